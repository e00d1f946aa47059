#pragma once
// A program's start dialog against the demo store server in this process.
#include <QString>

#include "tests/support/demo_server.h"
#include "tests/support/qt_fixture.h"

class QWidget;

namespace shell_test {

class ShellTest : public testsupport::QtFixture {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes a password the program keeps between runs, as a ticked log-in would.
  static void keepPassword(int appType, const QString& user, const QString& password);
  static void setSellinValue(const QString& name, const QString& value);

  testsupport::DemoServer server_;
};

// Fills the log-in dialog and presses OK.
void logIn(QWidget* dialog, const QString& user, const QString& password, bool keep = false);
// Presses Cancel on a dialog.
void cancel(QWidget* dialog);
// Closes a start dialog by its caption, as the clerk ends the program.
void closeWindow(QWidget* dialog);
QString statusOf(QWidget* startDialog);

}  // namespace shell_test
