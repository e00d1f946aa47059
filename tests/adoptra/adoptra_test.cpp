// Adoptra's course book lookup dialog on the demo server (clerk, store 1), and its reply split.
#include <array>

#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QRadioButton>
#include <QStyle>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "adoptra/adoptra_app.h"
#include "adoptra/adoptra_dlg.h"
#include "adoptra/adoptra_reply.h"
#include "platform/message_box.h"
#include "platform/profile.h"
#include "tessel/detail_dlg.h"
#include "tests/support/app_fixture.h"

namespace {

using platform::MessageBoxScript;
using Dlg = CAdoptraDlg;
using testsupport::clickControl;
using testsupport::ModalDriver;
using testsupport::replaceText;

// The result rows as course columns and record index.
std::vector<std::string> rows(const QWidget* dialog) {
  return testsupport::listRows(dialog, Dlg::IDC_RESULTS, 3, true);
}

class AdoptraDlgTest : public testsupport::AppFixture<CAdoptraApp, Dlg> {
 protected:
  AdoptraDlgTest() : AppFixture("clerk", "clerk1") {}
  void SetUp() override {
    AppFixture::SetUp();
    QString status;
    ASSERT_TRUE(m_app->m_socketMsg.LogIn(status)) << status.toStdString();
    m_app->LoadLocations(m_app->m_socketMsg.GetResponse(0));
  }

  static void lookUp(Dlg& dlg, const QString& code) {
    replaceText(&dlg, Dlg::IDC_CODE, code);
    clickControl(&dlg, Dlg::IDC_ENTER);
  }

  static int adoptraInt(const QString& name) { return platform::Profile::readInt("Adoptra", name, -1); }
  static void detailsShow(const std::function<void(const std::vector<std::string>&)>& check) {
    ModalDriver::whenModal([check](QWidget* detail) {
      check(testsupport::listRows(detail, CDetailDlg::IDC_LIST));
      expectEveryValueWhole(testsupport::findControl<QTreeWidget>(detail, CDetailDlg::IDC_LIST));
      detail->close();
    });
  }
  // Each value's cell holds the whole text, wrapped to the cell's width less the margins a cell keeps.
  static void expectEveryValueWhole(const QTreeWidget* list) {
    const int margin = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
    const int width = list->header()->sectionSize(1) - margin;
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
      const QTreeWidgetItem* item = list->topLevelItem(row);
      const QRect text = list->fontMetrics().boundingRect(QRect(0, 0, width, 10000), Qt::TextWordWrap, item->text(1));
      EXPECT_TRUE(text.width() <= width && text.height() <= list->visualItemRect(item).height())
          << item->text(1).toStdString() << " is cut";
    }
  }
};

TEST_F(AdoptraDlgTest, OpeningSendsNothingThenStoreAndModeChangesAreStored) {
  runDialog([&](Dlg& dlg) {
    EXPECT_TRUE(dlg.radioButton(Dlg::IDC_ITEM)->isChecked()) << "Item is the mode when nothing is stored";
    EXPECT_EQ(dlg.controlText(Dlg::IDC_STORE), "Annex") << "locations are not listed trimmed and sorted";
    for (int id : {Dlg::IDC_RESULTS, Dlg::IDC_DETAILS, Dlg::IDC_TERM, Dlg::IDC_PRINT, Dlg::IDC_PROBLEM})
      EXPECT_FALSE(dlg.control(id)->isVisible()) << id;
    // A clerk's choice of location stores it and looks up again.
    replaceText(&dlg, Dlg::IDC_CODE, "10002");
    EXPECT_EQ(adoptraInt("StoreNum"), -1) << "opening stored a store number";
    emit dlg.comboBox(Dlg::IDC_STORE)->activated(1);
    EXPECT_EQ(rows(&dlg).size(), 1u) << "the closed-term section is listed";
    EXPECT_EQ(adoptraInt("StoreNum"), 1);

    clickControl(&dlg, Dlg::IDC_ITEM);  // already checked: nothing changes
    EXPECT_EQ(dlg.controlText(Dlg::IDC_CODE), "10002");
    EXPECT_TRUE(dlg.control(Dlg::IDC_RESULTS)->isVisible());
    clickControl(&dlg, Dlg::IDC_STUDENT);
    EXPECT_EQ(dlg.controlText(Dlg::IDC_CODE), "");
    EXPECT_FALSE(dlg.control(Dlg::IDC_RESULTS)->isVisible());
    EXPECT_EQ(adoptraInt("ItemBtn"), 0);
    clickControl(&dlg, Dlg::IDC_ITEM);
    EXPECT_EQ(adoptraInt("ItemBtn"), 1);
  });
}

// S100200's sections in order: records 0 (BIO 100) and 3 (CS 150) are in closed terms.
TEST_F(AdoptraDlgTest, ClosedTermsAreHiddenAndDetailsQueryTheRowsRecord) {
  platform::Profile::writeInt("Adoptra", "ItemBtn", 0);
  runDialog([&](Dlg& dlg) {
    lookUp(dlg, "S100200");
    EXPECT_EQ(rows(&dlg), (std::vector<std::string>{"BIO|101|01|1", "CHEM|110|01|2", "ENG|102|03|4", "HIST|205|A|5",
                                                    "MATH|220|01|6"}));
    EXPECT_EQ(dlg.controlText(Dlg::IDC_TERM), "FALL 2026");
    detailsShow([](const auto& lines) {
      EXPECT_EQ(lines.size(), 6u + 3 * 11);
      EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 5),
                (std::vector<std::string>{"Term:|FALL 2026", "Department:|BIO", "Course:|101", "Section:|01"}));
    });
    clickControl(&dlg, Dlg::IDC_DETAILS);
    // The detail query carries the texts with their leading blanks; a title is shown whole.
    dlg.listView(Dlg::IDC_RESULTS)->setCurrentItem(dlg.listView(Dlg::IDC_RESULTS)->topLevelItem(1));
    detailsShow([](const auto& lines) {
      EXPECT_EQ(lines.at(2), "Department:| CHEM");
      EXPECT_EQ(lines.at(6 + 9), "|Chemistry: The Molecular Nature of Matter & Change, 8th Ed.");
    });
    clickControl(&dlg, Dlg::IDC_DETAILS);
    clickControl(&dlg, Dlg::IDC_SHOW_CLOSED);
    EXPECT_EQ(rows(&dlg).size(), 7u);
    EXPECT_EQ(rows(&dlg)[3], "CS|150|S1|3");

    // A failed lookup empties the records but leaves the rows: Details then does nothing.
    m_server.stop();
    MessageBoxScript::arm(platform::IDOK);
    dlg.sendMessage(platform::WM_SCAN_DATA, QStringLiteral("S100200"));
    ASSERT_EQ(MessageBoxScript::shown().size(), 1u);
    EXPECT_EQ(MessageBoxScript::shown()[0].icon, platform::MessageIcon::Stop);
    EXPECT_TRUE(dlg.m_results.IsEmpty());
    EXPECT_EQ(rows(&dlg).size(), 7u);
    clickControl(&dlg, Dlg::IDC_DETAILS);
    EXPECT_EQ(MessageBoxScript::shown().size(), 1u) << "Details tried to reach the stopped server";
  });
}

TEST_F(AdoptraDlgTest, ProblemFollowsTheLastLookupAcrossClear) {
  platform::Profile::writeInt("Adoptra", "ItemBtn", 0);
  runDialog([&](Dlg& dlg) {
    lookUp(dlg, "S100200");
    EXPECT_TRUE(dlg.control(Dlg::IDC_PROBLEM)->isVisible());
    clickControl(&dlg, Dlg::IDC_CLEAR);
    EXPECT_FALSE(dlg.control(Dlg::IDC_PROBLEM)->isVisible());
    EXPECT_EQ(dlg.m_problems.GetSize(), 3);
    clickControl(&dlg, Dlg::IDC_SHOW_CLOSED);
    EXPECT_TRUE(dlg.control(Dlg::IDC_PROBLEM)->isVisible());
    detailsShow([](const auto& lines) {
      EXPECT_EQ(lines.size(), 15u);
      EXPECT_EQ(lines.at(2), "Reason:|Wrong edition ordered");
    });
    clickControl(&dlg, Dlg::IDC_PROBLEM);
    lookUp(dlg, "S100300");  // one section, one report on its books
    EXPECT_EQ(dlg.m_problems.GetSize(), 1);
    clickControl(&dlg, Dlg::IDC_ITEM);
    lookUp(dlg, "10002");
    EXPECT_FALSE(dlg.control(Dlg::IDC_PROBLEM)->isVisible()) << "a lookup without reports shows Problem";
  });
}

TEST_F(AdoptraDlgTest, PrintSendsTheModeAndIsSilentWithoutAPrinter) {
  const QString printed = profileDirectory() + "/printer.txt";
  CTesselConfig::Override({.printer = printed});
  runDialog([&](Dlg& dlg) {
    lookUp(dlg, "10002");
    clickControl(&dlg, Dlg::IDC_PRINT);
    clickControl(&dlg, Dlg::IDC_STUDENT);
    lookUp(dlg, "S100300");
    clickControl(&dlg, Dlg::IDC_PRINT);
    QFile file(printed);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.startsWith("Main Campus Bookstore\r\nCourse books for the book 9780321573513\r\n")) << text.data();
    EXPECT_TRUE(text.contains("\r\nCourse books for student S100300\r\n")) << text.data();

    clickControl(&dlg, Dlg::IDC_CLEAR);
    clickControl(&dlg, Dlg::IDC_SHOW_CLOSED);
    clickControl(&dlg, Dlg::IDC_PRINT);  // the server's refusal of an empty code would show in a box
    CTesselConfig::Override({.printer = profileDirectory() + "/no/such/dir/printer"});
    replaceText(&dlg, Dlg::IDC_CODE, "S100300");
    clickControl(&dlg, Dlg::IDC_SHOW_CLOSED);
    clickControl(&dlg, Dlg::IDC_PRINT);
    EXPECT_TRUE(MessageBoxScript::shown().empty()) << "an unavailable printer was not silent";
  });
}

TEST(SplitAdoptraReply, SplitsAtTheFirstCarriageReturnBeforePRB) {
  const std::vector<std::array<QString, 3>> cases = {
      {"ADO1\rADO2\r", "ADO1\rADO2\r", ""},            // no marker
      {"\rPRB1\r", "", "PRB1\r"},                      // marker at 0
      {"ADO1\rPRB1\rPRB2\r", "ADO1", "PRB1\rPRB2\r"},  // the first marker splits
      {"ADO PRB\rADO2\r", "ADO PRB\rADO2\r", ""},      // PRB without a carriage return
  };
  for (const auto& [reply, courses, problems] : cases) {
    const CAdoptraReply split = SplitAdoptraReply(reply);
    EXPECT_EQ(split.m_strCourses, courses) << reply.toStdString();
    EXPECT_EQ(split.m_strProblems, problems) << reply.toStdString();
    EXPECT_EQ(split.m_bHasProblems, !problems.isEmpty()) << reply.toStdString();
  }
}

}  // namespace
