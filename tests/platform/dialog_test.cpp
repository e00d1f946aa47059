// Dialogs built from control tables, the real message box, and the INI profile store.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QStyleOptionButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <thread>

#include "platform/dialog.h"
#include "platform/message_box.h"
#include "platform/profile.h"
#include "tests/support/qt_fixture.h"

using namespace platform;

using testsupport::ModalDriver;

namespace {

enum { kEntry = 1001, kGo, kLookup, kNotes, kList, kPlainList, kCombo, kCaption, kKeep };

// With a default: kGo (default) and IDCANCEL; without: kLookup and IDOK. kGo and kLookup end a run with their ID.
DialogTemplate sampleTemplate(bool withDefault = true, bool captionOk = false, int pointSize = 8) {
  DialogTemplate t;
  t.size = {160, 168};
  t.fontPointSize = pointSize;
  t.captionOk = captionOk;
  t.controls = {
      {kCaption, ControlKind::Label, QStringLiteral("Name:"), {8, 8, 40, 8}},
      {kEntry, ControlKind::Edit, {}, {52, 8, 100, 16}, Border},
      {kNotes, ControlKind::Edit, {}, {8, 32, 144, 40}, MultiLine | ReadOnly},
      {kList, ControlKind::ListBox, {}, {8, 80, 68, 32}, Sorted},
      {kPlainList, ControlKind::ListBox, {}, {8, 112, 68, 24}},
      {kCombo, ControlKind::ComboBox, {}, {84, 80, 68, 64}, Sorted},
      {kKeep, ControlKind::CheckBox, QStringLiteral("Keep"), {84, 130, 68, 10}},
      {withDefault ? kGo : kLookup,
       withDefault ? ControlKind::DefaultPushButton : ControlKind::PushButton,
       QStringLiteral("First"),
       {8, 144, 40, 16}},
      {withDefault ? IDCANCEL : IDOK, ControlKind::PushButton, QStringLiteral("Second"), {112, 144, 40, 16}},
  };
  return t;
}

class RecordingDialog : public Dialog {
 public:
  explicit RecordingDialog(const DialogTemplate& t, QWidget* parent = nullptr) : Dialog(t, parent) {
    for (const int id : {kGo, kLookup})
      if (QPushButton* b = button(id)) connect(b, &QPushButton::clicked, this, [this, id] { endDialog(id); });
  }
  using Dialog::onMessage;

  int inits = 0, destroys = 0, oks = 0, cancels = 0, shows = 0;
  bool refuseOk = false;
  QString textAtDestroy;
  std::function<void(RecordingDialog&)> whenInit = [](RecordingDialog&) {};

 protected:
  bool onInitDialog() override {
    ++inits;
    focusControl(kEntry);
    whenInit(*this);
    return true;
  }
  void onOk() override {
    ++oks;
    if (!refuseOk) Dialog::onOk();
  }
  void onCancel() override {
    ++cancels;
    Dialog::onCancel();
  }
  void onDestroy() override {
    ++destroys;
    textAtDestroy = controlText(kEntry);
  }
  void showEvent(QShowEvent* event) override {
    ++shows;
    Dialog::showEvent(event);
  }
};

using DialogTest = testsupport::QtFixture;
using ProfileStore = testsupport::QtFixture;

}  // namespace

TEST_F(DialogTest, TheScaleGrowsControlsTextAndTickBoxesAlike) {
  const double saved = uiScale();
  setUiScale(1.0);
  const Dialog twelve(sampleTemplate(true, false, 12));
  EXPECT_EQ(twelve.minimumSize(), twelve.maximumSize()) << "a template dialog has a fixed size";
  // A combo box's template height is its dropped list, not its field.
  EXPECT_LT(twelve.comboBox(kCombo)->height(), twelve.toPixels({0, 0, 0, 64}).height()) << "field as tall as its list";

  const Dialog single(sampleTemplate());
  setUiScale(2.0);
  Dialog big(sampleTemplate());
  setUiScale(saved);
  const QRect entry = single.control(kEntry)->geometry();
  EXPECT_EQ(big.control(kEntry)->geometry(), QRect(entry.topLeft() * 2, entry.size() * 2)) << "scale not applied";
  EXPECT_DOUBLE_EQ(big.font().pointSizeF(), 16.0) << "text must grow with the dialog";
  const auto tickBox = [](const QCheckBox* box) {
    QStyleOptionButton option;
    option.initFrom(box);
    return box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box).size();
  };
  EXPECT_EQ(tickBox(big.checkBox(kKeep)), tickBox(single.checkBox(kKeep)) * 2) << "the tick box ignores the scale";
}

TEST_F(DialogTest, TextsTakeCrlfAndNoMarkupAndSortedEntriesLandAtTheirPlaceAndKeepTheirData) {
  Dialog dlg(sampleTemplate());
  dlg.setControlText(kNotes, QStringLiteral("Balance\r\nLimit"));
  EXPECT_EQ(dlg.controlText(kNotes), QStringLiteral("Balance\nLimit")) << "CRLF must become one line break";
  dlg.setControlText(kCaption, QStringLiteral("<b>A & B</b>"));  // server text is never read as markup
  EXPECT_EQ(dlg.label(kCaption)->textFormat(), Qt::PlainText);
  EXPECT_EQ(dlg.controlText(kCaption), QStringLiteral("<b>A & B</b>"));
  QListWidget* list = dlg.listBox(kList);
  // A case-sensitive order would put "apple" after "Zebra"; an equal text goes after the one there.
  const std::pair<const char*, int> adds[] = {{"pear", 0}, {"Zebra", 1}, {"apple", 0}, {"Banana", 1}, {"PEAR", 3}};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(addListEntry(list, adds[i].first, i), adds[i].second) << adds[i].first;
  QStringList rows;
  for (int row = -1; row <= list->count(); ++row)
    rows << (list->item(row) ? list->item(row)->text() : "-") + "=" + QString::number(listEntryData(list, row));
  EXPECT_EQ(rows.join(' '), "-=-1 apple=2 Banana=3 pear=0 PEAR=4 Zebra=1 -=-1") << "item data must follow its entry";

  addListEntry(dlg.listBox(kPlainList), QStringLiteral("pear"), 7);
  EXPECT_EQ(addListEntry(dlg.listBox(kPlainList), QStringLiteral("apple"), 8), 1) << "an unsorted list must append";
  QComboBox* combo = dlg.comboBox(kCombo);
  EXPECT_EQ(addListEntry(combo, QStringLiteral("West"), 10), 0);
  EXPECT_EQ(addListEntry(combo, QStringLiteral("east"), 11), 0);
  const qintptr wide = qintptr(1) << 40;
  EXPECT_EQ(listEntryData(combo, addListEntry(combo, QStringLiteral("North"), wide)), wide) << "item data cut short";
  EXPECT_EQ(listEntryData(combo, 2), 10);
}

TEST_F(DialogTest, RunModalInitialisesOnceEndsWithTheCodeAndDestroysOnce) {
  RecordingDialog dlg(sampleTemplate());
  ModalDriver::whenModal([](QWidget* modal) {
    EXPECT_EQ(QApplication::focusWidget(), testsupport::findControl(modal, kEntry)) << "focus not set before showing";
    EXPECT_EQ(static_cast<Dialog*>(modal)->runModal(), -1) << "a running dialog must not run again";
    testsupport::typeInto(modal, kEntry, QStringLiteral("9780131103627"));
    testsupport::clickControl(modal, kGo);
  });
  EXPECT_EQ(dlg.runModal(), kGo);
  EXPECT_EQ(dlg.textAtDestroy, QStringLiteral("9780131103627")) << "controls must be alive in onDestroy";
  EXPECT_FALSE(dlg.isVisible());

  ModalDriver::whenModal([](QWidget* modal) { testsupport::pressKey(modal, Qt::Key_Escape); });
  EXPECT_EQ(dlg.runModal(), IDCANCEL) << "a second run of the same dialog";
  // endDialog during onInitDialog ends the run before the dialog shows.
  dlg.whenInit = [](RecordingDialog& self) { self.endDialog(IDCANCEL); };
  EXPECT_EQ(dlg.runModal(), IDCANCEL);
  EXPECT_EQ(dlg.shows, 2) << "shown although ended in onInitDialog";
  EXPECT_TRUE(dlg.inits == 3 && dlg.destroys == 3) << "each run must initialise and destroy exactly once";
}

TEST_F(DialogTest, KeysButtonsAndCloseEndInTheRightHandler) {
  struct Case {
    const char* what;
    bool withDefault, captionOk;
    std::function<void(QWidget*)> act;
    int result, oks, cancels;
  };
  const auto key = [](Qt::Key k) { return [k](QWidget* modal) { testsupport::pressKey(modal, k); }; };
  const auto click = [](int id) { return [id](QWidget* modal) { testsupport::clickControl(modal, id); }; };
  const auto returnOn = [](int id) {
    return [id](QWidget* modal) {
      testsupport::findControl(modal, id)->setFocus();
      testsupport::pressKey(modal, Qt::Key_Return);
    };
  };
  const Case cases[] = {
      {"Return runs the default button", true, false, key(Qt::Key_Return), kGo, 0, 0},
      {"Enter runs the default button", true, false, key(Qt::Key_Enter), kGo, 0, 0},
      {"Return without a default button is OK, not the first button", false, false, key(Qt::Key_Return), IDOK, 1, 0},
      {"Return on a focused button clicks it", true, false, returnOn(IDCANCEL), IDCANCEL, 0, 1},
      {"Return on a focused button, no default", false, false, returnOn(kLookup), kLookup, 0, 0},
      {"Escape cancels", true, false, key(Qt::Key_Escape), IDCANCEL, 0, 1},
      {"the IDOK button is OK", false, false, click(IDOK), IDOK, 1, 0},
      {"close without captionOk cancels", true, false, &QWidget::close, IDCANCEL, 0, 1},
      {"close with captionOk is OK", true, true, &QWidget::close, IDOK, 1, 0},
  };
  for (const Case& c : cases) {
    RecordingDialog dlg(sampleTemplate(c.withDefault, c.captionOk));
    ModalDriver::whenModal(c.act);
    EXPECT_EQ(dlg.runModal(), c.result) << c.what;
    EXPECT_EQ(dlg.oks, c.oks) << c.what;
    EXPECT_EQ(dlg.cancels, c.cancels) << c.what;
  }

  // A close that onOk refuses leaves the dialog open.
  RecordingDialog refusing(sampleTemplate(false, true));
  refusing.refuseOk = true;
  ModalDriver::whenModal([&refusing](QWidget* modal) {
    modal->close();
    EXPECT_TRUE(modal->isVisible()) << "closed although onOk refused";
    refusing.refuseOk = false;
    modal->close();
  });
  EXPECT_EQ(refusing.runModal(), IDOK);
  EXPECT_EQ(refusing.oks, 2);
}

TEST_F(DialogTest, PostedMessagesRunLaterInOrderSentOnesAtOnceAllOnTheUiThread) {
  enum { kFirst = WM_USER + 10, kSecond, kThird, kSent };
  RecordingDialog dlg(sampleTemplate());
  EXPECT_EQ(dlg.sendMessage(kSent), 0) << "a message without a handler must give 0";
  QStringList seen;
  QList<QThread*> threads;
  for (const int message : {kFirst, kSecond, kThird, kSent})
    dlg.onMessage(message, [&, message](const QVariant& w, const QVariant& l) -> qintptr {
      seen << QStringLiteral("%1 %2%3").arg(message - kFirst).arg(w.toString(), dlg.isVisible() ? "" : " unshown");
      threads << QThread::currentThread();
      if (message == kFirst) {
        dlg.postMessage(kSecond, "b");
        dlg.postMessage(kThird, "c");
        seen << QStringLiteral("sent gave %1").arg(dlg.sendMessage(kSent, 5, 6));
      }
      if (message == kThird) dlg.endDialog(IDOK);
      return w.toInt() * l.toInt();
    });
  // As a start dialog does: post from onInitDialog, here from another thread.
  dlg.whenInit = [](RecordingDialog& self) { std::thread([&self] { self.postMessage(kFirst, "a"); }).join(); };
  EXPECT_EQ(dlg.runModal(), IDOK);
  EXPECT_EQ(seen.join(" / ").toStdString(), "0 a / 3 5 / sent gave 30 / 1 b / 2 c");
  EXPECT_EQ(threads, QList<QThread*>(4, dlg.thread())) << "a handler ran off the UI thread";
}

// Without a test script a real box shows, at --scale 2 as large as the dialogs it stands over.
TEST_F(DialogTest, WithoutAScriptARealBoxShowsAtTheDialogScaleAndAnswers) {
  const struct {
    MessageButtons buttons;
    QMessageBox::StandardButton press;  // NoButton: Escape
    int expected;
  } cases[] = {
      {MessageButtons::OkCancel, QMessageBox::Cancel, IDCANCEL},
      {MessageButtons::YesNo, QMessageBox::Yes, IDYES},
      {MessageButtons::YesNo, QMessageBox::NoButton, IDNO},
      {MessageButtons::YesNoCancel, QMessageBox::No, IDNO},
      {MessageButtons::Ok, QMessageBox::Ok, IDOK},
  };
  const double saved = uiScale();
  setUiScale(2.0);
  MessageBoxScript::end();
  for (const auto& c : cases) {
    testsupport::ModalDriver::whenModal([&c](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_TRUE(box && box->text() == "Stock is low") << "not the message box asked for";
      EXPECT_DOUBLE_EQ(box->font().pointSizeF(), 2 * QApplication::font().pointSizeF()) << "the box ignores the scale";
      if (c.press == QMessageBox::NoButton) return QTest::keyClick(box, Qt::Key_Escape);
      ASSERT_TRUE(box->button(c.press)) << "a button is missing, answer " << c.expected;
      QTest::mouseClick(box->button(c.press), Qt::LeftButton);
    });
    EXPECT_EQ(messageBox(nullptr, "Stock is low", "Adoptra", MessageIcon::Warning, c.buttons), c.expected);
  }
  MessageBoxScript::begin();
  setUiScale(saved);
}

// A box and a dialog opened while a dialog starts, before it shows, stand where it will stand: over its owner.
TEST_F(DialogTest, WhatOpensWhileADialogStartsIsCentredOverItsOwner) {
  QWidget owner;
  owner.setGeometry(420, 260, 300, 300);
  owner.show();
  QRect box, detail, chooser;
  for (QRect* shown : {&box, &detail, &chooser})
    ModalDriver::whenModal([shown](QWidget* modal) {
      *shown = modal->geometry();
      modal->close();
    });
  RecordingDialog chooserDlg(sampleTemplate(), &owner);
  chooserDlg.whenInit = [](RecordingDialog& self) {
    messageBox(&self, "No book has that ISBN.", "Sellin", MessageIcon::Stop, MessageButtons::Ok);
    RecordingDialog(sampleTemplate(), &self).runModal();
  };
  MessageBoxScript::end();
  chooserDlg.runModal();
  MessageBoxScript::begin();
  // Offscreen, Qt keeps room for a window frame it cannot see: 10 pixels left, 40 up.
  const auto centredOver = [](const QRect& inner, const QRect& outer) {
    const QPoint off = inner.center() - outer.center();
    return std::abs(off.x()) <= 10 && std::abs(off.y()) <= 40;
  };
  EXPECT_TRUE(centredOver(chooser, owner.geometry())) << "the chooser is not over its owner";
  EXPECT_TRUE(centredOver(box, chooser)) << "the box opened at " << box.x() << "," << box.y();
  EXPECT_TRUE(centredOver(detail, chooser)) << "the dialog opened at " << detail.x() << "," << detail.y();
}

TEST_F(ProfileStore, ValuesRoundTripPerSectionAndMissingOrBadOnesGiveTheFallback) {
  EXPECT_EQ(platform::Profile::readString("Sellin", "UserName", "nobody"), QStringLiteral("nobody"));
  platform::Profile::writeString("Sellin", "UserName", "buyer, main store");
  platform::Profile::writeString("Adoptra", "UserName", "clerk");
  platform::Profile::writeInt("Sellin", "StoreNum", -12);
  EXPECT_EQ(platform::Profile::readString("Sellin", "UserName", "nobody"), QStringLiteral("buyer, main store"));
  EXPECT_EQ(platform::Profile::readString("Adoptra", "UserName"), QStringLiteral("clerk")) << "sections mixed up";
  EXPECT_EQ(platform::Profile::readInt("Sellin", "StoreNum", 1), -12);
  platform::Profile::remove("Sellin", "StoreNum");
  EXPECT_EQ(platform::Profile::readInt("Sellin", "StoreNum", 1), 1) << "removed value still read";
  for (const char* text : {"abc", "12abc", "", "1.5", "99999999999"}) {
    platform::Profile::writeString("Tessel", "ReadTimeout", text);
    EXPECT_EQ(platform::Profile::readInt("Tessel", "ReadTimeout", 15), 15) << "\"" << text << "\" read as a number";
  }
  platform::Profile::writeString("Tessel", "ReadTimeout", " 30 ");
  EXPECT_EQ(platform::Profile::readInt("Tessel", "ReadTimeout", 15), 30);
}

// The file may hold a kept password: only its owner reads it, even when it had wider rights before.
TEST_F(ProfileStore, TheIniFileIsWrittenAtOnceForItsOwnerOnlyAndHandEditsAreRead) {
  QFile file(QDir(profileDirectory()).filePath("OST_PDA/OST.ini"));
  EXPECT_EQ(platform::Profile::fileName(), file.fileName());
  platform::Profile::writeString("Stipendo", "Password", "clerk1");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "nothing on disk after a write";
  EXPECT_TRUE(file.readAll().contains("[Stipendo]\nPassword=clerk1"));
  file.close();
  const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
  const auto rights = [&file] { return file.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser); };
  EXPECT_EQ(rights(), ownerOnly);

  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("[Tessel]\nServer=http://127.0.0.1:8080\nConnectTimeout=7\nPrinter=tcp://a,b\n");
  file.close();
  file.setPermissions(ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther);
  EXPECT_EQ(platform::Profile::readString("Tessel", "Server"), QStringLiteral("http://127.0.0.1:8080"));
  EXPECT_EQ(platform::Profile::readInt("Tessel", "ConnectTimeout", 5), 7);
  EXPECT_EQ(platform::Profile::readString("Tessel", "Printer"), QStringLiteral("tcp://a,b"))
      << "a comma split the value";
  platform::Profile::writeInt("Stipendo", "KeepPassword", 1);
  EXPECT_EQ(rights(), ownerOnly) << "wider rights kept";
}
