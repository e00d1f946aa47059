#pragma once
// Every message box of the programs goes through messageBox(). Tests arm the
// answers they expect instead of letting a box appear (see MessageBoxScript).
#include <QString>
#include <vector>

#include "platform/window_messages.h"

class QWidget;

namespace platform {

enum class MessageIcon { None, Stop, Information, Question, Warning };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };

// Shows a modal message box and returns IDOK, IDCANCEL, IDYES or IDNO.
int messageBox(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon, MessageButtons buttons);

// A checked queue of armed answers for tests. While active, messageBox shows
// nothing: it records the box and returns the next armed answer. A box with no
// armed answer, or whose armed answer is none of its buttons (that answer is
// used up), is recorded as unanswered and answered IDCANCEL (IDNO for Yes/No).
// UI thread only.
class MessageBoxScript {
 public:
  struct ShownBox {
    QString text;
    QString caption;
    MessageIcon icon;
    MessageButtons buttons;
    int answer = 0;         // what messageBox returned
    bool answered = false;  // false: no fitting armed answer was there
  };

  // Starts scripting with an empty queue and an empty record.
  static void begin();
  // Stops scripting; boxes show again.
  static void end();
  static bool active();

  // Queues the answer of the next box (IDOK, IDCANCEL, IDYES or IDNO).
  static void arm(int answer);
  static const std::vector<ShownBox>& shown();
  static int leftoverAnswerCount();  // armed answers no box took
};

}  // namespace platform
