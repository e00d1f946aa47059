#pragma once
// What every test that touches widgets, message boxes or the profile shares.
//
// QtFixture, per test: the profile lives in a fresh temporary directory under
// key "OST_PDA", profile "OST"; message boxes are scripted; the modal driver
// runs. At the end the test fails on an unanswered box, a left-over armed
// answer, a modal driver problem or a top-level widget left behind. A subclass
// that overrides SetUp or TearDown calls these first / last.
//
// ModalDriver drives modal dialogs that a test opens (directly or deep inside
// a handler): the test queues actions first, then starts the code that opens
// the dialogs.
//
//   testsupport::ModalDriver::whenModal([](QWidget* modal) {
//     testsupport::clickControl(modal, platform::IDOK);
//   });
//   EXPECT_EQ(dlg.runModal(), platform::IDOK);
//
// Each action runs once, in order, on the next modal widget that has become the
// active one and has had no action since it was shown. One left open with no
// action for the fallback time (5 s) is closed and reported, so a failed
// assertion never hangs the run.
//
// The control helpers act on a dialog's controls by control ID, the way a user
// would. A missing or hidden control fails the test instead of being skipped.
#include <QSet>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <source_location>
#include <string>
#include <vector>

// Readable values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QByteArray& bytes, std::ostream* out) { *out << '"' << bytes.toStdString() << '"'; }

namespace testsupport {

class QtFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  QString profileDirectory() const;

 private:
  std::unique_ptr<QTemporaryDir> profileDir_;
  QSet<QWidget*> widgetsBefore_;
};

class ModalDriver {
 public:
  using Action = std::function<void(QWidget* modal)>;

  static void whenModal(Action action, std::source_location where = std::source_location::current());
  static void setFallbackTimeout(int milliseconds);
};

// The control named for that ID anywhere inside the dialog, or nullptr.
QWidget* findControl(const QWidget* dialog, int id);
template <typename T>
T* findControl(const QWidget* dialog, int id) {
  return qobject_cast<T*>(findControl(dialog, id));
}

// A mouse click at the control's centre (a disabled control ignores it).
void clickControl(QWidget* dialog, int id);
// Gives the control the focus and types the text at its cursor.
void typeInto(QWidget* dialog, int id, const QString& text);
// Empties a single-line edit, then types the text.
void replaceText(QWidget* dialog, int id, const QString& text);
// Presses and releases a key at the dialog's focus widget, from where an
// unhandled key travels up to the dialog as a real one does.
void pressKey(QWidget* dialog, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Each row of the list view with that ID: its first columns, then with
// withData its item data, joined by '|'. Empty when there is no such list.
std::vector<std::string> listRows(const QWidget* dialog, int id, int columns = 2, bool withData = false);

// Runs the dialog modally: steps act on it once it shows, then its close box
// ends it. Gives what runModal gave.
template <typename Dlg>
int runClosing(Dlg& dlg, const std::function<void(Dlg&)>& steps) {
  ModalDriver::whenModal([&](QWidget* modal) {
    if (modal == &dlg) steps(dlg);
    else ADD_FAILURE() << "another dialog came first";
    modal->close();
  });
  return dlg.runModal();
}

}  // namespace testsupport
