#pragma once
// The window a clerk sees while a change is on its way to the store server, or
// sent again because its answer was lost, and while a read that settles what the
// screen shows is under way: the change is being saved (not refused), for how
// long it has waited, and a button to stop waiting. The sending runs on a worker
// thread meanwhile.
#include <functional>

#include "platform/dialog.h"
#include "tessel/transport_clock.h"

class QEventLoop;

class CSaveWaitDlg : public platform::Dialog {
  Q_OBJECT

 public:
  enum { IDD = 152, IDC_SAVING = 1001, IDC_WAITED = 1002 };
  // An exchange answered sooner shows no window.
  static constexpr int kShowAfterMs = 500;

  // started: when the exchange was first sent, by clock. saving: it carries a
  // change (otherwise it reads). stop: asks the sending to end; it may be
  // called from the button while a try is in flight.
  CSaveWaitDlg(CTransportClock& clock, CTransportClock::TimePoint started, bool saving, std::function<void()> stop,
               QWidget* parent = nullptr);

  // Runs send on a worker thread until it returns, with this window open once
  // it has run kShowAfterMs. Before that the screen is painted, but the clerk's
  // input waits as it does behind the window.
  void RunWhileWaiting(const std::function<void()>& send);

 protected:
  bool onInitDialog() override;
  void onCancel() override;

 private:
  void ShowWaited();

  CTransportClock& m_clock;
  CTransportClock::TimePoint m_started;
  bool m_bSaving;
  std::function<void()> m_stop;
  bool m_bStopped = false;
  bool m_bSent = false;
  QEventLoop* m_pBeforeShowing = nullptr;  // runs until the window shows
};
