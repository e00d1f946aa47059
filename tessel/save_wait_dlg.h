#pragma once
// The window a clerk sees while a change is sent again because its answer was
// lost: the change is being saved (not refused), for how long it has waited,
// and a button to stop waiting. The sending runs on a worker thread meanwhile.
#include <QElapsedTimer>
#include <functional>

#include "platform/dialog.h"

class CSaveWaitDlg : public platform::Dialog {
  Q_OBJECT

 public:
  enum { IDD = 152, IDC_SAVING = 1001, IDC_WAITED = 1002 };

  // waited: started when the change was first sent. stop: asks the sending to
  // end; it may be called from the button while a try is in flight.
  CSaveWaitDlg(const QElapsedTimer& waited, std::function<void()> stop, QWidget* parent = nullptr);

  // Runs send on a worker thread with this window open until it returns.
  void RunWhileWaiting(const std::function<void()>& send);

 protected:
  bool onInitDialog() override;
  void onCancel() override;

 private:
  void ShowWaited();

  QElapsedTimer m_waited;
  std::function<void()> m_stop;
  bool m_bStopped = false;
};
