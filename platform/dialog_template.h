#pragma once
// A dialog described as a table of controls laid out in dialog units.
#include <QRect>
#include <QSize>
#include <QString>
#include <vector>

namespace platform {

enum class ControlKind {
  PushButton,         // QPushButton
  DefaultPushButton,  // QPushButton, default: Return runs it
  Label,              // QLabel ("static")
  Edit,               // QLineEdit, or QPlainTextEdit with MultiLine
  ListBox,            // QListWidget
  CheckBox,           // QCheckBox
  ComboBox,           // QComboBox (drop-down list)
  ListView,           // QTreeWidget in report mode: columns, no tree decoration
};

// Style flags; combine with |.
enum ControlStyle : unsigned {
  NoStyle = 0,
  AlignCenter = 1u << 0,   // Label: centred text
  AlignRight = 1u << 1,    // Label, Edit: right-aligned text
  MultiLine = 1u << 2,     // Edit: several lines (QPlainTextEdit)
  ReadOnly = 1u << 3,      // Edit
  VerticalScroll = 1u << 4,
  Sorted = 1u << 5,        // ListBox: entries kept in alphabetical order
  Hidden = 1u << 6,        // created hidden
  Password = 1u << 7,      // Edit: echo as dots
  Border = 1u << 8,
  Disabled = 1u << 9,
};

struct ControlSpec {
  int id = 0;
  ControlKind kind = ControlKind::Label;
  QString text;
  QRect rect;  // dialog units: x, y, width, height
  unsigned style = NoStyle;
};

struct DialogTemplate {
  int id = 0;
  QString title;
  QSize size;  // dialog units
  QString fontFamily = QStringLiteral("MS Shell Dlg");
  int fontPointSize = 8;
  // The caption carries an OK button: closing the window means OK, not Cancel.
  bool captionOk = false;
  std::vector<ControlSpec> controls;
};

}  // namespace platform
