// Modal runs, the keys and the close button, and window messages.
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <thread>

#include "platform/dialog.h"
#include "tests/support/qt_fixture.h"

using namespace platform;
using testsupport::ModalDriver;

namespace {

enum { kEntry = 1001, kGo, kLookup, kGoCode = 77, kLookupCode = 78 };

// kGo, when there, is the default button and ends the run with kGoCode; kLookup,
// an ordinary button before the IDOK button, ends it with kLookupCode.
DialogTemplate runTemplate(bool withDefault, bool captionOk = false) {
  DialogTemplate t;
  t.title = withDefault ? QStringLiteral("With default") : QStringLiteral("No default");
  t.size = {160, 100};
  t.captionOk = captionOk;
  t.controls = {{kEntry, ControlKind::Edit, {}, {8, 8, 100, 14}, Border}};
  if (withDefault) {
    t.controls.push_back({kGo, ControlKind::DefaultPushButton, QStringLiteral("Go"), {8, 80, 40, 14}});
    t.controls.push_back({IDCANCEL, ControlKind::PushButton, QStringLiteral("Cancel"), {112, 80, 40, 14}});
  } else {
    t.controls.push_back({kLookup, ControlKind::PushButton, QStringLiteral("Lookup"), {8, 80, 40, 14}});
    t.controls.push_back({IDOK, ControlKind::PushButton, QStringLiteral("OK"), {112, 80, 40, 14}});
  }
  return t;
}

class RecordingDialog : public Dialog {
 public:
  explicit RecordingDialog(const DialogTemplate& t) : Dialog(t) {
    if (QPushButton* go = button(kGo)) connect(go, &QPushButton::clicked, this, [this] { endDialog(kGoCode); });
    if (QPushButton* lookup = button(kLookup))
      connect(lookup, &QPushButton::clicked, this, [this] { endDialog(kLookupCode); });
  }
  using Dialog::onMessage;

  int inits = 0, destroys = 0, oks = 0, cancels = 0, shows = 0;
  bool refuseOk = false;
  QString textAtDestroy;
  std::function<void(RecordingDialog&)> whenInit;

 protected:
  bool onInitDialog() override {
    ++inits;
    focusControl(kEntry);
    if (whenInit) whenInit(*this);
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

RecordingDialog* recording(QWidget* modal) { return dynamic_cast<RecordingDialog*>(modal); }

using DialogRun = testsupport::QtFixture;
using DialogMessages = testsupport::QtFixture;

}  // namespace

TEST_F(DialogRun, RunModalInitialisesOnceEndsWithTheCodeAndDestroysOnce) {
  RecordingDialog dlg(runTemplate(true));
  ModalDriver::whenModal([](QWidget* modal) {
    EXPECT_EQ(QApplication::focusWidget(), testsupport::findControl(modal, kEntry)) << "focus set before showing";
    EXPECT_EQ(recording(modal)->runModal(), -1) << "a running dialog cannot run again";
    testsupport::typeInto(modal, kEntry, QStringLiteral("9780131103627"));
    testsupport::clickControl(modal, kGo);
  });
  EXPECT_EQ(dlg.runModal(), kGoCode);
  EXPECT_EQ(dlg.inits, 1);
  EXPECT_EQ(dlg.destroys, 1);
  EXPECT_EQ(dlg.textAtDestroy, QStringLiteral("9780131103627")) << "controls alive in onDestroy";
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.controlText(kEntry), QStringLiteral("9780131103627")) << "members readable after the run";

  ModalDriver::whenModal([](QWidget* modal) { testsupport::pressKey(modal, Qt::Key_Escape); });
  EXPECT_EQ(dlg.runModal(), IDCANCEL) << "a second run of the same dialog";
  EXPECT_EQ(dlg.inits, 2);
  EXPECT_EQ(dlg.destroys, 2);
}

TEST_F(DialogRun, EndDialogDuringInitEndsTheRunUnshown) {
  RecordingDialog dlg(runTemplate(true));
  dlg.whenInit = [](RecordingDialog& self) { self.endDialog(IDCANCEL); };
  EXPECT_EQ(dlg.runModal(), IDCANCEL);
  EXPECT_EQ(dlg.shows, 0);
  EXPECT_EQ(dlg.destroys, 1);
}

TEST_F(DialogRun, KeysButtonsAndCloseEndInTheRightHandler) {
  struct Case {
    const char* what;
    bool withDefault;
    bool captionOk;
    std::function<void(QWidget*)> act;
    int result, oks, cancels;
  };
  const auto key = [](Qt::Key k) { return [k](QWidget* modal) { testsupport::pressKey(modal, k); }; };
  const auto click = [](int id) { return [id](QWidget* modal) { testsupport::clickControl(modal, id); }; };
  const auto close = [](QWidget* modal) { modal->close(); };
  const auto returnOn = [](int id) {
    return [id](QWidget* modal) {
      testsupport::findControl(modal, id)->setFocus();
      testsupport::pressKey(modal, Qt::Key_Return);
    };
  };
  const Case cases[] = {
      {"Return runs the default button", true, false, key(Qt::Key_Return), kGoCode, 0, 0},
      {"Enter runs the default button", true, false, key(Qt::Key_Enter), kGoCode, 0, 0},
      {"Return without a default button is OK, not the first button", false, false, key(Qt::Key_Return), IDOK, 1,
       0},
      {"Return on a focused button clicks it", true, false, returnOn(IDCANCEL), IDCANCEL, 0, 1},
      {"Return on a focused button, no default", false, false, returnOn(kLookup), kLookupCode, 0, 0},
      {"Escape cancels", true, false, key(Qt::Key_Escape), IDCANCEL, 0, 1},
      {"the IDCANCEL button cancels", true, false, click(IDCANCEL), IDCANCEL, 0, 1},
      {"the IDOK button is OK", false, false, click(IDOK), IDOK, 1, 0},
      {"close without captionOk cancels", true, false, close, IDCANCEL, 0, 1},
      {"close with captionOk is OK", true, true, close, IDOK, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingDialog dlg(runTemplate(c.withDefault, c.captionOk));
    ModalDriver::whenModal(c.act);
    EXPECT_EQ(dlg.runModal(), c.result);
    EXPECT_EQ(dlg.oks, c.oks);
    EXPECT_EQ(dlg.cancels, c.cancels);
  }
}

TEST_F(DialogRun, CloseRefusedByOnOkKeepsTheDialogOpen) {
  RecordingDialog dlg(runTemplate(false, true));
  dlg.refuseOk = true;
  ModalDriver::whenModal([](QWidget* modal) {
    modal->close();
    EXPECT_TRUE(modal->isVisible());
    recording(modal)->refuseOk = false;
    modal->close();
  });
  EXPECT_EQ(dlg.runModal(), IDOK);
  EXPECT_EQ(dlg.oks, 2);
}

TEST_F(DialogMessages, PostedRunLaterInOrderSentRunAtOnce) {
  enum { kFirst = WM_USER + 10, kSecond, kThird, kSent };
  RecordingDialog dlg(runTemplate(true));
  QStringList seen;
  dlg.onMessage(kFirst, [&](const QVariant&, const QVariant&) -> qintptr {
    seen << QStringLiteral("first begins%1").arg(dlg.isVisible() ? " on screen" : "");
    dlg.postMessage(kSecond);
    dlg.postMessage(kThird, 3);
    seen << QStringLiteral("sent returned %1").arg(dlg.sendMessage(kSent, 5, 6));
    seen << QStringLiteral("first ends");
    return -1;
  });
  dlg.onMessage(kSent, [&](const QVariant& w, const QVariant& l) -> qintptr {
    seen << QStringLiteral("sent");
    return w.toInt() * l.toInt();
  });
  dlg.onMessage(kSecond, [&](const QVariant&, const QVariant&) -> qintptr {
    seen << QStringLiteral("second");
    return 0;
  });
  dlg.onMessage(kThird, [&](const QVariant& w, const QVariant&) -> qintptr {
    seen << QStringLiteral("third %1").arg(w.toInt());
    dlg.endDialog(IDOK);
    return 0;
  });
  // As a start dialog does: post from onInitDialog, handled once the dialog shows.
  dlg.whenInit = [](RecordingDialog& self) { self.postMessage(kFirst); };

  EXPECT_EQ(dlg.runModal(), IDOK);
  EXPECT_EQ(seen, QStringList({"first begins on screen", "sent", "sent returned 30", "first ends", "second",
                               "third 3"}));
}

TEST_F(DialogMessages, SendReturnsTheHandlersResultAndZeroForUnknown) {
  RecordingDialog dlg(runTemplate(true));
  EXPECT_EQ(dlg.sendMessage(WM_SCANNER), 0);
  dlg.onMessage(WM_SCANNER, [](const QVariant&, const QVariant&) -> qintptr { return -1; });
  EXPECT_EQ(dlg.sendMessage(WM_SCANNER), -1);
  dlg.onMessage(WM_SCANNER, [](const QVariant&, const QVariant&) -> qintptr { return 8; });
  EXPECT_EQ(dlg.sendMessage(WM_SCANNER), 8) << "a later registration replaces the handler";
  EXPECT_EQ(dlg.sendMessage(WM_SCAN_DATA), 0);
}

TEST_F(DialogMessages, MessagesFromAnotherThreadRunOnTheUiThread) {
  RecordingDialog dlg(runTemplate(true));
  QStringList codes;
  QList<QThread*> threads;
  dlg.onMessage(WM_SCAN_DATA, [&](const QVariant& w, const QVariant&) -> qintptr {
    codes << w.toString();
    threads << QThread::currentThread();
    return 4;
  });

  std::thread poster([&] {
    dlg.postMessage(WM_SCAN_DATA, QStringLiteral("111"));
    dlg.postMessage(WM_SCAN_DATA, QStringLiteral("222"));
  });
  poster.join();
  EXPECT_TRUE(codes.isEmpty()) << "posted, not run on the posting thread";
  QCoreApplication::sendPostedEvents(&dlg);

  QEventLoop loop;
  qintptr sent = 0;
  std::thread sender([&] {
    sent = dlg.sendMessage(WM_SCAN_DATA, QStringLiteral("333"));
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);  // only if delivery is broken
  loop.exec();
  sender.join();

  EXPECT_EQ(codes, QStringList({"111", "222", "333"}));
  EXPECT_EQ(sent, 4);
  EXPECT_EQ(threads, QList<QThread*>(3, dlg.thread()));
}
