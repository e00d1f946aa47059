#include "tessel/save_wait_dlg.h"

#include <QEventLoop>
#include <QTimer>
#include <thread>

namespace {

// Posted by the worker when the sending is over; ends the window.
constexpr int WM_SENDING_DONE = platform::WM_USER + 300;

platform::DialogTemplate saveWaitTemplate() {
  using namespace platform;
  DialogTemplate t;
  t.id = CSaveWaitDlg::IDD;
  t.title = QStringLiteral("Saving");
  t.size = {160, 60};
  t.controls = {
      {CSaveWaitDlg::IDC_SAVING,
       ControlKind::Label,
       QStringLiteral("Saving the change on the store server\u2026"),
       {7, 7, 146, 8}},
      {CSaveWaitDlg::IDC_WAITED, ControlKind::Label, QString(), {7, 19, 146, 8}},
      {IDCANCEL, ControlKind::PushButton, QStringLiteral("Stop waiting"), {103, 40, 50, 14}},
  };
  return t;
}

}  // namespace

CSaveWaitDlg::CSaveWaitDlg(CTransportClock& clock, CTransportClock::TimePoint started, bool saving,
                           std::function<void()> stop, QWidget* parent)
    : platform::Dialog(saveWaitTemplate(), parent),
      m_clock(clock),
      m_started(started),
      m_bSaving(saving),
      m_stop(std::move(stop)) {
  onMessage(WM_SENDING_DONE, [this](const QVariant&, const QVariant&) {
    m_bSent = true;
    if (m_pBeforeShowing) m_pBeforeShowing->quit();
    else endDialog(platform::IDOK);
    return -1;
  });
}

void CSaveWaitDlg::RunWhileWaiting(const std::function<void()>& send) {
  QEventLoop beforeShowing;
  QTimer::singleShot(kShowAfterMs, &beforeShowing, &QEventLoop::quit);
  m_pBeforeShowing = &beforeShowing;
  std::thread worker([this, &send] {
    send();
    postMessage(WM_SENDING_DONE);  // queued until a loop runs, if none does yet
  });
  beforeShowing.exec(QEventLoop::ExcludeUserInputEvents);
  m_pBeforeShowing = nullptr;
  if (!m_bSent) runModal();
  worker.join();
}

bool CSaveWaitDlg::onInitDialog() {
  if (!m_bSaving) setControlText(IDC_SAVING, QStringLiteral("Reading from the store server\u2026"));
  ShowWaited();
  auto* tick = new QTimer(this);
  connect(tick, &QTimer::timeout, this, [this] { ShowWaited(); });
  tick->start(1000);
  return true;
}

// The window stays until the try in flight has ended: closing it earlier would
// let the clerk work while the change is still on its way.
void CSaveWaitDlg::onCancel() {
  if (m_bStopped) return;
  m_bStopped = true;
  setControlText(IDC_SAVING, QStringLiteral("Stopping\u2026"));
  m_stop();
}

void CSaveWaitDlg::ShowWaited() {
  const auto waited = std::chrono::duration_cast<std::chrono::seconds>(m_clock.Now() - m_started);
  setControlText(IDC_WAITED, QStringLiteral("Waiting for the store server: %1 s").arg(waited.count()));
}
