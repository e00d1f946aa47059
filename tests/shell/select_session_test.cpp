// Choosing the buying session from the sessions the server offered.
#include <QListWidget>
#include <QTest>

#include "sellin/select_session_dlg.h"
#include "sellin/sellin_start.h"
#include "shell/start_dlg.h"
#include "tessel/socket_message.h"
#include "tests/support/qt_fixture.h"
#include "wire/exchange.h"

namespace {

using testsupport::ModalDriver;

// Sessions as FillFromResponse leaves them (the framing tests cover the cut).
CDataArray<CSLSessionInfo> sessions(std::initializer_list<std::pair<int, QString>> rows) {
  CDataArray<CSLSessionInfo> array;
  for (const auto& [id, description] : rows) {
    CSLSessionInfo session;
    session.m_nSessionID = id;
    session.m_strDescription = description;
    array.Add(session);
  }
  return array;
}

QStringList entries(QWidget* chooser) {
  QStringList out;
  auto* list = testsupport::findControl<QListWidget>(chooser, CSelectSessionDlg::IDC_SESSIONS);
  for (int i = 0; list && i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

class SelectSessionTest : public testsupport::QtFixture {
 protected:
  // Runs ChooseSession with the queued actions.
  bool choose(const CDataArray<CSLSessionInfo>& array) { return start_.ChooseSession(dlg_, &array); }

  CSocketMessage msg_{wire::kAppSellin};
  CSellinStart start_{msg_};
  CStartDlg dlg_{{wire::kAppSellin, "Sellin", "Sellin", 1045, 54, 50}, start_};
};

TEST_F(SelectSessionTest, SortedByTrimmedDescriptionWithTheFirstSelectedAndOkChoosingByItemData) {
  QStringList listed;
  QString selected;
  ModalDriver::whenModal([&](QWidget* chooser) {
    EXPECT_EQ(chooser->windowTitle(), QStringLiteral("Select Session"));
    listed = entries(chooser);
    selected = testsupport::findControl<QListWidget>(chooser, CSelectSessionDlg::IDC_SESSIONS)->currentItem()->text();
    testsupport::pressKey(chooser, Qt::Key_Return);
  });
  EXPECT_TRUE(choose(sessions({{1, "Spring"}, {2, "   Fall"}, {3, "Summer  "}})));
  EXPECT_EQ(listed, (QStringList{"Fall", "Spring", "Summer  "}));
  EXPECT_EQ(selected, QStringLiteral("Fall"));
  EXPECT_EQ(start_.m_session.m_nSessionID, 2);
}

TEST_F(SelectSessionTest, ADoubleClickChoosesAtOnce) {
  ModalDriver::whenModal([](QWidget* chooser) {
    auto* list = testsupport::findControl<QListWidget>(chooser, CSelectSessionDlg::IDC_SESSIONS);
    const QPoint summer = list->visualItemRect(list->item(2)).center();
    // A view takes a double-click only on the item its press landed on.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, summer);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, summer);
  });
  EXPECT_TRUE(choose(sessions({{1, "Spring"}, {2, "Fall"}, {3, "Summer"}})));
  EXPECT_EQ(start_.m_session.m_nSessionID, 3);
}

TEST_F(SelectSessionTest, SameDescriptionsEachMapToTheirOwnRecordAndASingleOneIsStillOffered) {
  ModalDriver::whenModal([](QWidget* chooser) {
    EXPECT_EQ(entries(chooser), (QStringList{"Wholesale", "Wholesale"}));
    testsupport::findControl<QListWidget>(chooser, CSelectSessionDlg::IDC_SESSIONS)->setCurrentRow(1);
    testsupport::pressKey(chooser, Qt::Key_Return);
  });
  EXPECT_TRUE(choose(sessions({{7, "Wholesale"}, {8, "Wholesale"}})));
  EXPECT_EQ(start_.m_session.m_nSessionID, 8);
  ModalDriver::whenModal([](QWidget* chooser) {
    EXPECT_EQ(entries(chooser), QStringList{"Only"});
    testsupport::clickControl(chooser, platform::IDCANCEL);
  });
  EXPECT_FALSE(choose(sessions({{5, "Only"}})));
  EXPECT_EQ(start_.m_session.m_nSessionID, 8) << "a cancelled choice changed the session";
}

// The current row stays after a Ctrl+click unselects it: OK then chooses
// nothing and the chooser stays open.
TEST_F(SelectSessionTest, OkWithNothingSelectedChoosesNothing) {
  EXPECT_FALSE(start_.ChooseSession(dlg_, nullptr));
  ModalDriver::whenModal([](QWidget* chooser) {
    auto* list = testsupport::findControl<QListWidget>(chooser, CSelectSessionDlg::IDC_SESSIONS);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list->visualItemRect(list->item(0)).center());
    ASSERT_TRUE(list->selectedItems().isEmpty() && list->currentItem());
    testsupport::pressKey(chooser, Qt::Key_Return);
    EXPECT_TRUE(chooser->isVisible()) << "OK with nothing selected ended the chooser";
    testsupport::clickControl(chooser, platform::IDCANCEL);
  });
  EXPECT_FALSE(choose(sessions({{1, "Spring"}})));
  EXPECT_EQ(start_.m_session.m_nSessionID, 0);
}

}  // namespace
