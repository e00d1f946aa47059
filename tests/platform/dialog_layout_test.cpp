// Dialogs built from control tables: pixel geometry from dialog units, the
// controls behind each ID, their texts, and list entries with item data.
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include "platform/dialog.h"
#include "tests/support/qt_fixture.h"

using namespace platform;

namespace {

enum { kName = 1001, kNotes, kList, kKeep, kCombo, kView, kRadio, kPin, kMore, kCaption, kPlainList };

DialogTemplate sampleTemplate(int pointSize = 8) {
  DialogTemplate t;
  t.id = 100;
  t.title = QStringLiteral("Sample");
  t.size = {160, 168};
  t.fontPointSize = pointSize;
  t.controls = {
      {IDOK, ControlKind::DefaultPushButton, QStringLiteral("OK"), {8, 144, 40, 16}},
      {IDCANCEL, ControlKind::PushButton, QStringLiteral("Cancel"), {112, 144, 40, 16}},
      {kCaption, ControlKind::Label, QStringLiteral("Name:"), {8, 8, 40, 8}, AlignRight},
      {kName, ControlKind::Edit, {}, {52, 8, 100, 16}, Border},
      {kNotes, ControlKind::Edit, {}, {8, 32, 144, 40}, MultiLine | ReadOnly | VerticalScroll | Border},
      {kList, ControlKind::ListBox, {}, {8, 80, 68, 32}, Sorted | Border},
      {kPlainList, ControlKind::ListBox, {}, {8, 112, 68, 24}, Border},
      {kCombo, ControlKind::ComboBox, {}, {84, 80, 68, 64}, Sorted},
      {kView, ControlKind::ListView, {}, {84, 96, 68, 40}, NoHeader | Border},
      {kKeep, ControlKind::CheckBox, QStringLiteral("Keep"), {8, 136, 40, 8}},
      {kRadio, ControlKind::RadioButton, QStringLiteral("Item"), {52, 136, 40, 8}},
      {kPin, ControlKind::Edit, {}, {84, 136, 40, 8}, Password | Hidden},
      {kMore, ControlKind::PushButton, QStringLiteral("More"), {60, 144, 40, 16}, Disabled},
  };
  return t;
}

// Dialog units worked out independently: DejaVu Sans stands for "MS Shell Dlg".
struct BaseUnits {
  int cw;
  int ch;
};
BaseUnits baseUnits(int pointSize) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPointSize(pointSize);
  const QFontMetrics metrics(font);
  const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  return {qRound(metrics.horizontalAdvance(letters) / 52.0), metrics.height()};
}

class ScaleGuard {
 public:
  explicit ScaleGuard(double scale) : saved_(uiScale()) { setUiScale(scale); }
  ~ScaleGuard() { setUiScale(saved_); }

 private:
  double saved_;
};

using DialogLayout = testsupport::QtFixture;

}  // namespace

TEST_F(DialogLayout, ClassicDialogFontIsTheSystemSans) {
  EXPECT_EQ(QFontInfo(templateFont(QStringLiteral("MS Shell Dlg"), 8)).family(), QStringLiteral("DejaVu Sans"));
}

TEST_F(DialogLayout, DialogUnitsFollowTheTemplateFontAndTheScale) {
  ScaleGuard unscaled(1.0);
  for (const int pointSize : {8, 12}) {
    SCOPED_TRACE(pointSize);
    const BaseUnits u = baseUnits(pointSize);
    Dialog dlg(sampleTemplate(pointSize));
    // Multiples of 4 and 8 dialog units map to whole pixels, no rounding.
    EXPECT_EQ(dlg.control(kName)->geometry(), QRect(13 * u.cw, u.ch, 25 * u.cw, 2 * u.ch));
    EXPECT_EQ(dlg.size(), QSize(40 * u.cw, 21 * u.ch));
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize()) << "a template dialog has a fixed size";
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Sample"));
  }

  const QRect single = Dialog(sampleTemplate()).control(kName)->geometry();
  ScaleGuard doubled(2.0);
  Dialog big(sampleTemplate());
  EXPECT_EQ(big.control(kName)->geometry(), QRect(single.topLeft() * 2, single.size() * 2));
  EXPECT_DOUBLE_EQ(big.font().pointSizeF(), 16.0) << "text grows with the dialog";
}

TEST_F(DialogLayout, ControlsAreFoundByIdWithTheirKindAndName) {
  Dialog dlg(sampleTemplate());
  EXPECT_TRUE(dlg.button(IDOK));
  EXPECT_TRUE(dlg.label(kCaption));
  EXPECT_TRUE(dlg.edit(kName));
  EXPECT_TRUE(dlg.multiLineEdit(kNotes));
  EXPECT_TRUE(dlg.listBox(kList));
  EXPECT_TRUE(dlg.comboBox(kCombo));
  EXPECT_TRUE(dlg.listView(kView));
  EXPECT_TRUE(dlg.checkBox(kKeep));
  EXPECT_TRUE(dlg.radioButton(kRadio));
  for (const ControlSpec& spec : sampleTemplate().controls) {
    EXPECT_EQ(dlg.control(spec.id)->objectName(), QStringLiteral("ctl%1").arg(spec.id));
    EXPECT_EQ(testsupport::findControl(&dlg, spec.id), dlg.control(spec.id));
  }
  // The wrong kind or an unknown ID gives nothing rather than a wrong widget.
  EXPECT_EQ(dlg.edit(kNotes), nullptr);
  EXPECT_EQ(dlg.multiLineEdit(kName), nullptr);
  EXPECT_EQ(dlg.button(kKeep), nullptr);
  EXPECT_EQ(dlg.checkBox(kRadio), nullptr);
  EXPECT_EQ(dlg.control(4242), nullptr);
  EXPECT_EQ(dlg.label(4242), nullptr);
  EXPECT_TRUE(dlg.controlScreenRect(4242).isEmpty());
  dlg.setControlText(4242, QStringLiteral("ignored"));
  dlg.setControlVisible(4242, false);
  dlg.focusControl(4242);
}

TEST_F(DialogLayout, StylesShapeTheWidgets) {
  Dialog dlg(sampleTemplate());
  dlg.show();
  EXPECT_TRUE(dlg.button(IDOK)->isDefault());
  EXPECT_FALSE(dlg.button(IDCANCEL)->isDefault());
  EXPECT_FALSE(dlg.control(kPin)->isVisible());
  EXPECT_EQ(dlg.edit(kPin)->echoMode(), QLineEdit::Password);
  EXPECT_FALSE(dlg.control(kMore)->isEnabled());
  EXPECT_TRUE(dlg.label(kCaption)->alignment() & Qt::AlignRight);
  EXPECT_TRUE(dlg.multiLineEdit(kNotes)->isReadOnly());
  EXPECT_TRUE(dlg.listView(kView)->isHeaderHidden());
  // A combo box's template height is its dropped list, not its field.
  EXPECT_LT(dlg.comboBox(kCombo)->height(), dlg.toPixels({0, 0, 0, 64}).height());
  EXPECT_FALSE(dlg.comboBox(kCombo)->isEditable());
  dlg.hide();
}

TEST_F(DialogLayout, ControlTextReadsAndWritesEachKind) {
  Dialog dlg(sampleTemplate());
  EXPECT_EQ(dlg.controlText(kCaption), QStringLiteral("Name:"));
  EXPECT_EQ(dlg.controlText(IDCANCEL), QStringLiteral("Cancel"));
  dlg.setControlText(kName, QStringLiteral("0012345"));
  EXPECT_EQ(dlg.edit(kName)->text(), QStringLiteral("0012345"));
  dlg.setControlText(kNotes, QStringLiteral("Balance\r\nLimit"));
  EXPECT_EQ(dlg.controlText(kNotes), QStringLiteral("Balance\nLimit"));
  EXPECT_EQ(dlg.multiLineEdit(kNotes)->blockCount(), 2);
  dlg.setControlText(kCaption, QStringLiteral("<b>A & B</b>"));
  EXPECT_EQ(dlg.label(kCaption)->textFormat(), Qt::PlainText);
  EXPECT_EQ(dlg.controlText(kCaption), QStringLiteral("<b>A & B</b>"));

  addListEntry(dlg.comboBox(kCombo), QStringLiteral("Main Store"), 1);
  addListEntry(dlg.comboBox(kCombo), QStringLiteral("Annex"), 2);
  dlg.setControlText(kCombo, QStringLiteral("main store"));
  EXPECT_EQ(dlg.controlText(kCombo), QStringLiteral("Main Store"));
  dlg.setControlText(kCombo, QStringLiteral("Nowhere"));
  EXPECT_EQ(dlg.comboBox(kCombo)->currentIndex(), -1);
  EXPECT_EQ(dlg.controlText(kView), QString());
}

TEST_F(DialogLayout, SortedEntriesLandAtTheirPlaceAndKeepTheirData) {
  Dialog dlg(sampleTemplate());
  QListWidget* list = dlg.listBox(kList);
  // A case-sensitive order would put "apple" after "Zebra".
  EXPECT_EQ(addListEntry(list, QStringLiteral("pear"), 0), 0);
  EXPECT_EQ(addListEntry(list, QStringLiteral("Zebra"), 1), 1);
  EXPECT_EQ(addListEntry(list, QStringLiteral("apple"), 2), 0);
  EXPECT_EQ(addListEntry(list, QStringLiteral("Banana"), 3), 1);
  EXPECT_EQ(addListEntry(list, QStringLiteral("PEAR"), 4), 3) << "after the equal entry already there";
  const QStringList order = {"apple", "Banana", "pear", "PEAR", "Zebra"};
  const QList<qintptr> data = {2, 3, 0, 4, 1};
  for (int row = 0; row < list->count(); ++row) {
    EXPECT_EQ(list->item(row)->text(), order[row]);
    EXPECT_EQ(listEntryData(list, row), data[row]);
    EXPECT_EQ(list->item(row)->data(Qt::UserRole).toInt(), data[row]);
  }
  EXPECT_EQ(listEntryData(list, 5), -1);
  EXPECT_EQ(listEntryData(list, -1), -1);

  QListWidget* plain = dlg.listBox(kPlainList);
  EXPECT_EQ(addListEntry(plain, QStringLiteral("pear"), 7), 0);
  EXPECT_EQ(addListEntry(plain, QStringLiteral("apple"), 8), 1) << "an unsorted list appends";

  QComboBox* combo = dlg.comboBox(kCombo);
  EXPECT_EQ(addListEntry(combo, QStringLiteral("West"), 10), 0);
  EXPECT_EQ(addListEntry(combo, QStringLiteral("east"), 11), 0);
  EXPECT_EQ(listEntryData(combo, 1), 10);
  EXPECT_EQ(listEntryData(combo, 2), -1);
  const qintptr wide = qintptr(1) << 40;
  EXPECT_EQ(listEntryData(combo, addListEntry(combo, QStringLiteral("North"), wide)), wide);
}

TEST_F(DialogLayout, ScreenRectangleMapsBackToTheClientRectangle) {
  Dialog dlg(sampleTemplate());
  dlg.move(300, 200);
  dlg.show();
  const QRect onScreen = dlg.controlScreenRect(kList);
  EXPECT_NE(onScreen, dlg.control(kList)->geometry());
  EXPECT_EQ(dlg.screenToClient(onScreen), dlg.control(kList)->geometry());
  EXPECT_EQ(onScreen.size(), dlg.toPixels({0, 0, 68, 32}).size());
  dlg.hide();
}
