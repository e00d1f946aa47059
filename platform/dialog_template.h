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
  RadioButton,        // QRadioButton; the radio buttons of a dialog form one group
};

// Style flags; combine with |.
enum ControlStyle : unsigned {
  NoStyle = 0,
  AlignCenter = 1u << 0,     // Label, single-line Edit: centred text
  AlignRight = 1u << 1,      // Label, single-line Edit: right-aligned text
  MultiLine = 1u << 2,       // Edit: several lines, wrapped (QPlainTextEdit)
  ReadOnly = 1u << 3,        // Edit
  VerticalScroll = 1u << 4,  // MultiLine Edit: scroll bar always shown (list boxes scroll as needed anyway)
  // ListBox, ComboBox: entries added with addListEntry() land at their
  // alphabetical position, case-insensitive (Qt's own insert/add do not sort).
  Sorted = 1u << 5,
  Hidden = 1u << 6,    // created hidden
  Password = 1u << 7,  // Edit: echo as dots
  // Edit, ListBox, ListView: framed only with Border, as on the handheld.
  // Label: a thin box around the text.
  Border = 1u << 8,
  Disabled = 1u << 9,
  NoHeader = 1u << 10,  // ListView: no column header row
  Editable = 1u << 11,  // ComboBox: drop-down with an edit field instead of a drop-down list
};

struct ControlSpec {
  int id = 0;
  ControlKind kind = ControlKind::Label;
  QString text;
  // Dialog units: x, y, width, height. A ComboBox's height is the extent of its
  // dropped list; its field takes the combo box's natural height.
  QRect rect;
  unsigned style = NoStyle;
};

struct DialogTemplate {
  int id = 0;
  QString title;
  QSize size;  // dialog units
  // "MS Shell Dlg" (and the other classic dialog fonts) means the system sans font.
  QString fontFamily = QStringLiteral("MS Shell Dlg");
  int fontPointSize = 8;
  // The caption carries an OK button: closing the window means OK, not Cancel.
  bool captionOk = false;
  std::vector<ControlSpec> controls;
};

}  // namespace platform
