#pragma once
// What a test does to a dialog's controls, by control ID, the way a user would.
// A missing or hidden control fails the test instead of being skipped quietly.
#include <QString>
#include <QWidget>
#include <Qt>

namespace testsupport {

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

}  // namespace testsupport
