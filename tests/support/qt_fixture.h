#pragma once
// QtFixture, per test: a fresh profile directory (key "OST_PDA", profile "OST"), scripted message boxes, the
// modal driver; the test fails on an unanswered box, a left-over answer, a driver problem or a leftover window.
// ModalDriver: the test queues actions with whenModal, then opens the dialogs; each action runs once, in order,
// on the next new active modal widget. One left without an action for 5 s is closed and reported.
// The control helpers act by control ID as a user would; a missing or hidden control fails the test.
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
// Presses and releases a key at the dialog's focus widget (an unhandled one travels up as a real one does).
void pressKey(QWidget* dialog, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Each row of the list view: its first columns, then with withData its item data, joined by '|'.
std::vector<std::string> listRows(const QWidget* dialog, int id, int columns = 2, bool withData = false);

// Runs the dialog modally: steps act on it once it shows, then its close box ends it; gives runModal's result.
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
