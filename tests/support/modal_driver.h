#pragma once
// Drives modal dialogs that a test opens (directly or deep inside a handler):
// the test queues actions first, then starts the code that opens the dialogs.
//
//   testsupport::ModalDriver::whenModal([](QWidget* modal) {
//     testsupport::typeInto(modal, IDC_USER, "clerk");
//     testsupport::clickControl(modal, platform::IDOK);
//   });
//   EXPECT_EQ(dlg.runModal(), platform::IDOK);
//
// Each action runs once, in order, on the next modal widget that has become the
// active one and has not had an action since it was shown; a dialog shown again
// counts as a new one. A modal widget that stays open with no action for it for
// the fallback time (5 s) is closed (reject(), then done(IDCANCEL), then hide())
// and reported, so a failed assertion never hangs the run. QtFixture starts the
// driver and fails the test on every problem it reports.
#include <QString>
#include <QStringList>
#include <functional>
#include <source_location>

class QWidget;

namespace testsupport {

class ModalDriver {
 public:
  using Action = std::function<void(QWidget* modal)>;

  static void whenModal(Action action, std::source_location where = std::source_location::current());

  // Starts watching with no queued actions and no problems; stop() ends it.
  static void start();
  static void stop();
  static bool running();

  static int pendingCount();  // queued actions that have not run yet
  static int actedCount();    // actions that have run since start()
  // Milliseconds a modal widget may stay open with no action for it.
  static void setFallbackTimeout(int milliseconds);
  static int fallbackTimeout();

  // Fallback closes so far and the actions still queued, as sentences; clears
  // both, so a test can check the driver's own reports.
  static QStringList takeProblems();
};

}  // namespace testsupport
