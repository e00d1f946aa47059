#pragma once
// Drives modal dialogs that a test opens (directly or deep inside a handler):
// the test queues actions first, then starts the code that opens the dialogs.
//
//   testsupport::ModalDriver::whenModal([](QWidget* modal) {
//     testsupport::clickControl(modal, platform::IDOK);
//   });
//   EXPECT_EQ(dlg.runModal(), platform::IDOK);
//
// Each action runs once, in order, on the next modal widget that has become the
// active one and has had no action since it was shown. One left open with no
// action for the fallback time (5 s) is closed and reported, so a failed
// assertion never hangs the run. QtFixture starts the driver and fails the
// test on every problem it reports.
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

  static void start();  // no queued actions, no problems
  static void stop();
  static void setFallbackTimeout(int milliseconds);
  // Fallback closes and never-run actions as sentences; clears both.
  static QStringList takeProblems();
};

}  // namespace testsupport
