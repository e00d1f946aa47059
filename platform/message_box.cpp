#include "platform/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <deque>

#include "platform/dialog.h"
#include "platform/window_messages.h"

namespace platform {

namespace {

struct ScriptState {
  bool active = false;
  std::deque<int> armed;
  std::vector<MessageBoxScript::ShownBox> shown;
};

ScriptState& script() {
  static ScriptState state;
  return state;
}

bool offers(MessageButtons buttons, int answer) {
  switch (buttons) {
    case MessageButtons::Ok: return answer == IDOK;
    case MessageButtons::OkCancel: return answer == IDOK || answer == IDCANCEL;
    case MessageButtons::YesNo: return answer == IDYES || answer == IDNO;
    case MessageButtons::YesNoCancel: return answer == IDYES || answer == IDNO || answer == IDCANCEL;
  }
  return false;
}

// What a box gives when it is dismissed without a choice.
int dismissAnswer(MessageButtons buttons) { return buttons == MessageButtons::YesNo ? IDNO : IDCANCEL; }

QMessageBox::Icon qtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::None: return QMessageBox::NoIcon;
    case MessageIcon::Stop: return QMessageBox::Critical;
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Question: return QMessageBox::Question;
    case MessageIcon::Warning: return QMessageBox::Warning;
  }
  return QMessageBox::NoIcon;
}

struct QtButtons {
  QMessageBox::StandardButtons all;
  QMessageBox::StandardButton first;
  QMessageBox::StandardButton escape;
};

QtButtons qtButtons(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::Ok: return {QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok};
    case MessageButtons::OkCancel: return {QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok, QMessageBox::Cancel};
    case MessageButtons::YesNo: return {QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, QMessageBox::No};
    case MessageButtons::YesNoCancel:
      return {QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes, QMessageBox::Cancel};
  }
  return {QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok};
}

// A box is as large as the dialogs it stands over: text and icon grow with the scale.
void followUiScale(QMessageBox& box) {
  const double scale = uiScale();
  if (scale == 1.0) return;
  QFont font = box.font();
  font.setPointSizeF(font.pointSizeF() * scale);
  box.setFont(font);
  const QPixmap icon = box.iconPixmap();
  if (!icon.isNull())
    box.setIconPixmap(icon.scaled(icon.size() * scale, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

int scriptedAnswer(const QString& text, const QString& caption, MessageIcon icon, MessageButtons buttons) {
  ScriptState& state = script();
  MessageBoxScript::ShownBox box{text, caption, icon, buttons};
  if (!state.armed.empty()) {
    const int armed = state.armed.front();
    state.armed.pop_front();
    box.answered = offers(buttons, armed);
    box.answer = box.answered ? armed : dismissAnswer(buttons);
  } else {
    box.answer = dismissAnswer(buttons);
  }
  state.shown.push_back(box);
  return box.answer;
}

}  // namespace

int messageBox(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon, MessageButtons buttons) {
  if (script().active) return scriptedAnswer(text, caption, icon, buttons);

  const QtButtons qt = qtButtons(buttons);
  // Without a parent Qt centres the box on the screen, away from the window it speaks of.
  QWidget* owner = parent ? parent : QApplication::activeWindow();
  QMessageBox box(qtIcon(icon), caption, text, qt.all, owner);
  box.setTextFormat(Qt::PlainText);
  followUiScale(box);
  box.setDefaultButton(qt.first);
  box.setEscapeButton(qt.escape);
  box.exec();
  switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok: return IDOK;
    case QMessageBox::Cancel: return IDCANCEL;
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    default: return dismissAnswer(buttons);
  }
}

void MessageBoxScript::begin() {
  ScriptState& state = script();
  state.active = true;
  state.armed.clear();
  state.shown.clear();
}

void MessageBoxScript::end() { script().active = false; }

bool MessageBoxScript::active() { return script().active; }

void MessageBoxScript::arm(int answer) { script().armed.push_back(answer); }

const std::vector<MessageBoxScript::ShownBox>& MessageBoxScript::shown() { return script().shown; }

int MessageBoxScript::leftoverAnswerCount() { return int(script().armed.size()); }

}  // namespace platform
