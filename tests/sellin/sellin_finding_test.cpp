// Sellin's item chooser, purchasers, item lookup and stolen-book reports, real
// dialogs against the store server running in this process on the demo store.
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "sellin/purchasers_dlg.h"
#include "sellin/select_item_dlg.h"
#include "sellin/stolen_items_dlg.h"
#include "sellin_fixture.h"
#include "tessel/query_strings.h"

namespace {

using testsupport::ModalDriver;

std::string text(const QWidget* dialog, int id) {
  return static_cast<const platform::Dialog*>(dialog)->controlText(id).toStdString();
}
bool shown(const QWidget* dialog, int id) { return testsupport::findControl(dialog, id)->isVisible(); }

// Every row of a list (of the dialog's control, or its detail list) as "col0|col1".
std::vector<std::string> rowsOf(const QWidget* dialog, int id) {
  std::vector<std::string> rows;
  const auto* list = dialog->findChild<QTreeWidget*>(platform::Dialog::objectNameFor(id));
  for (int i = 0; list && i < list->topLevelItemCount(); ++i)
    rows.push_back((list->topLevelItem(i)->text(0) + "|" + list->topLevelItem(i)->text(1)).toStdString());
  return rows;
}

void clickRow(QWidget* dialog, int id, int row) {
  auto* list = testsupport::findControl<QTreeWidget>(dialog, id);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->topLevelItem(row)).center());
}

constexpr int kDetailList = 10001;  // the detail dialog's and the lookup dialog's list

class SellinFindingTest : public SellinTest {
 protected:
  std::string unreachable() const {
    return CSocketMessage::CannotReachText(QStringLiteral("127.0.0.1:%1").arg(m_server.port())).toStdString();
  }
};

QString itemQuery(const char* code) { return CGlobalQueryStrings::GetSLItemDetail(1001, QString::fromUtf8(code), 1); }

// The page label, the row count, the first row and which of Prev and Next show.
std::string pageOf(QWidget* dlg) {
  const auto rows = rowsOf(dlg, CSelectItemDlg::IDC_LIST);
  return text(dlg, CSelectItemDlg::IDC_PAGE) + ": " + std::to_string(rows.size()) + " from " +
         (rows.empty() ? "" : rows[0]) + (shown(dlg, CSelectItemDlg::IDC_PREV) ? " Prev" : "") +
         (shown(dlg, CSelectItemDlg::IDC_NEXT) ? " Next" : "");
}

TEST_F(SellinFindingTest, ChooserPagesThroughTheServerAndKeepsItsPageWhenNextFails) {
  const std::string two = "Page 2 of 3: 10 from 9780001008144|200023 Prev Next";
  CSelectItemDlg dlg(itemQuery("calculus"));
  ModalDriver::whenModal([&](QWidget* modal) {
    EXPECT_EQ(pageOf(modal), "Page 1 of 3: 10 from 9780001000001|200001 Next");
    EXPECT_EQ(text(modal, CSelectItemDlg::IDC_BOOKKEY) + " " + text(modal, CSelectItemDlg::IDC_DESC), "K1000 Calculus");
    testsupport::clickControl(modal, CSelectItemDlg::IDC_NEXT);
    EXPECT_EQ(pageOf(modal), two);
    testsupport::clickControl(modal, CSelectItemDlg::IDC_NEXT);
    EXPECT_EQ(pageOf(modal), "Page 3 of 3: 5 from 9780001005921|200017 Prev");
    testsupport::clickControl(modal, CSelectItemDlg::IDC_PREV);
    EXPECT_EQ(pageOf(modal), two);
    clickRow(modal, CSelectItemDlg::IDC_LIST, 3);
    EXPECT_EQ(text(modal, CSelectItemDlg::IDC_EDITION), "8");  // Calculus: Early Transcendentals, 8th

    m_server.stop();
    expectBox(unreachable());
    testsupport::clickControl(modal, CSelectItemDlg::IDC_NEXT);
    EXPECT_EQ(pageOf(modal), two);
    EXPECT_TRUE(dlg.GetPage() == 2 && dlg.GetDetails().GetSize() == 10);
    clickRow(modal, CSelectItemDlg::IDC_LIST, 3);  // the rows still have their records
    testsupport::pressKey(modal, Qt::Key_Return);
  });
  ASSERT_EQ(dlg.runModal(), platform::IDOK);
  EXPECT_EQ(dlg.GetSelected().m_nSKU, 200010);
  EXPECT_EQ(dlg.GetSelected().m_strItemID.toStdString(), "B0000009");
  checkBoxes();
  EXPECT_EQ(m_server.exchangeCount(), 4) << "pages 1, 2, 3 and 2 again";
}

TEST_F(SellinFindingTest, ARefusedFirstRequestCancelsWithTheServersSentence) {
  expectBox("The ISBN 9780001000002 has a wrong check digit: check the code or type it again.");
  expectBox("Nobody buys this book in this buying session.");
  expectBox("No stolen-book reports are filed for this book at this store.");
  EXPECT_EQ(CSelectItemDlg(itemQuery("9780001000002")).runModal(), platform::IDCANCEL);
  EXPECT_EQ(CPurchasersDlg(CGlobalQueryStrings::GetSLPurchase(1001, QStringLiteral("B0000011"), 1)).runModal(),
            platform::IDCANCEL);
  EXPECT_EQ(CStolenItemsDlg(200001, QStringLiteral("S100100"), 1).runModal(), platform::IDCANCEL);
  checkBoxes();
}

TEST_F(SellinFindingTest, PurchasersShowTheTermsOfTheSelectedRow) {
  CPurchasersDlg dlg(CGlobalQueryStrings::GetSLPurchase(1001, QStringLiteral("B0000000"), 1));
  const auto terms = [](QWidget* d) {
    using D = CPurchasersDlg;
    std::string all;
    for (int id : {D::IDC_STATUS, D::IDC_BOUGHT, D::IDC_NEED, D::IDC_BUY_QTY, D::IDC_BUY_PRICE, D::IDC_RETAIL})
      all += text(d, id) + "|";
    return all;
  };
  ModalDriver::whenModal([&](QWidget* modal) {
    EXPECT_EQ(rowsOf(modal, CPurchasersDlg::IDC_LIST),
              (std::vector<std::string>{"Ostrand Company|", "Midwest Book Wholesale|"}));
    EXPECT_EQ(terms(modal), "Adopted|0|*|*|12.50|25.00|");
    clickRow(modal, CPurchasersDlg::IDC_LIST, 1);
    EXPECT_EQ(terms(modal), "Wholesale|0|*|*|7.50|25.00|");
    testsupport::pressKey(modal, Qt::Key_Return);
  });
  ASSERT_EQ(dlg.runModal(), platform::IDOK);
  EXPECT_EQ(dlg.GetSelected().m_strPurchaser.toStdString(), "Midwest Book Wholesale");
}

TEST_F(SellinFindingTest, StolenReportsListInReplyOrderAndOpenTheirDetail) {
  CStolenItemsDlg dlg(200002, QStringLiteral("S100100"), 1);
  ModalDriver::whenModal([&](QWidget* modal) {
    EXPECT_EQ(rowsOf(modal, CStolenItemsDlg::IDC_LIST), std::vector<std::string>(3, "9780001000377|200002"));
    EXPECT_EQ(text(modal, CStolenItemsDlg::IDC_COMMENT), "");
    clickRow(modal, CStolenItemsDlg::IDC_LIST, 1);
    EXPECT_EQ(text(modal, CStolenItemsDlg::IDC_DESC), "Calculus");
    EXPECT_EQ(text(modal, CStolenItemsDlg::IDC_COMMENT), "Name written inside cover");
    ModalDriver::whenModal([](QWidget* detail) {
      EXPECT_EQ(rowsOf(detail, kDetailList),
                (std::vector<std::string>{"Student ID:|S100200", "Student Name:|Ben Brooks",
                                          "Stolen:|2026-02-11 Library, 2nd floor", "|Name written inside cover",
                                          "SKU:|200002", "Book Key:|K1000", "|Calculus", "ISBN:|9780001000377",
                                          "Edition:|8", "Copyright:|2011", "Binding:|Hardcover"}));
      testsupport::clickControl(detail, platform::IDOK);
    });
    testsupport::clickControl(modal, CStolenItemsDlg::IDC_DETAIL);
    modal->close();
  });
  EXPECT_EQ(dlg.runModal(), platform::IDCANCEL);

  // One report: its detail at once, and closing it closes the list.
  ModalDriver::whenModal([](QWidget* detail) {
    EXPECT_EQ(rowsOf(detail, kDetailList).at(0), "Student ID:|s100200");
    testsupport::clickControl(detail, platform::IDOK);
  });
  EXPECT_EQ(CStolenItemsDlg(200005, QString(), 1).runModal(), platform::IDOK);
}

// The item lookup: "501" anywhere in the inventory error is silence; a refused
// product query is no product, not its sentence cut into records; a failed
// exchange tells its own reason.
TEST_F(SellinFindingTest, ItemLookupShowsWhatTheStoreKnows) {
  std::vector<std::string> noProduct, product;
  for (auto* rows : {&noProduct, &product})
    ModalDriver::whenModal([rows](QWidget* lookup) {
      *rows = rowsOf(lookup, kDetailList);
      testsupport::clickControl(lookup, platform::IDOK);
    });
  m_app->LookUpItem(QStringLiteral("200023"), 1);  // inventory, no product
  m_app->LookUpItem(QStringLiteral("200001"), 1);
  noProduct.resize(3);
  EXPECT_EQ(noProduct, (std::vector<std::string>{"Product:|no product record", "Store:|1", "New On Hand:|5"}));
  product.resize(8);
  EXPECT_EQ(std::vector<std::string>(product.begin(), product.begin() + 3),
            (std::vector<std::string>{"SKU:|200001", "ISBN:|9780001000001", "|Calculus"}));
  EXPECT_EQ(product[7], "New Price:|$25.00");
  m_app->LookUpItem(QStringLiteral("200008"), 1);  // product, no inventory record: "501 ..."
  expectBox("The lookup needs the book's SKU number.");
  m_app->LookUpItem(QStringLiteral("SKU"), 1);
  EXPECT_EQ(m_server.exchangeCount(), 4);

  m_server.stop();
  expectBox(unreachable());
  m_app->LookUpItem(QStringLiteral("200001"), 1);
  checkBoxes();
}

}  // namespace
