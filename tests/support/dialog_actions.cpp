#include "tests/support/dialog_actions.h"

#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include "platform/dialog.h"

namespace testsupport {

namespace {

QWidget* usableControl(QWidget* dialog, int id) {
  QWidget* widget = dialog ? findControl(dialog, id) : nullptr;
  if (!widget) {
    ADD_FAILURE() << "no control " << id << " in " << (dialog ? qPrintable(dialog->windowTitle()) : "(no dialog)");
    return nullptr;
  }
  if (!widget->isVisible()) {
    ADD_FAILURE() << "control " << id << " of " << qPrintable(dialog->windowTitle()) << " is not visible";
    return nullptr;
  }
  return widget;
}

}  // namespace

QWidget* findControl(const QWidget* dialog, int id) {
  return dialog ? dialog->findChild<QWidget*>(platform::Dialog::objectNameFor(id)) : nullptr;
}

void clickControl(QWidget* dialog, int id) {
  if (QWidget* widget = usableControl(dialog, id))
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
}

void typeInto(QWidget* dialog, int id, const QString& text) {
  if (QWidget* widget = usableControl(dialog, id)) {
    widget->setFocus(Qt::OtherFocusReason);
    QTest::keyClicks(widget, text);
  }
}

void replaceText(QWidget* dialog, int id, const QString& text) {
  QWidget* widget = usableControl(dialog, id);
  if (!widget) return;
  auto* edit = qobject_cast<QLineEdit*>(widget);
  if (!edit) {
    ADD_FAILURE() << "control " << id << " is not a single-line edit";
    return;
  }
  edit->setFocus(Qt::OtherFocusReason);
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

void pressKey(QWidget* dialog, Qt::Key key, Qt::KeyboardModifiers modifiers) {
  if (!dialog) {
    ADD_FAILURE() << "pressKey without a dialog";
    return;
  }
  QWidget* target = dialog->focusWidget();
  QTest::keyClick(target ? target : dialog, key, modifiers);
}

}  // namespace testsupport
