// The quantity and price rules of a ticket line, the reading of numbers and
// prices, and the edit dialog's quantity keys and detail lines.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <climits>

#include "platform/message_box.h"
#include "sellin/edit_item_dlg.h"
#include "sellin/item_rules.h"
#include "sellin/line_item_fill.h"
#include "sellin/ticket_item.h"
#include "tessel/global_functions.h"
#include "tests/support/qt_fixture.h"

namespace {

using platform::MessageBoxScript;
using platform::MessageButtons;
using platform::MessageIcon;
using Icon = MessageIcon;
using Buttons = MessageButtons;

struct Box {
  std::string text;
  Icon icon;
  Buttons buttons;
  int answer;
};

struct RuleCase {
  std::string name;
  int qty = 1;
  const char* price = "10.00";
  const char* listed = "12.00";
  const char* buyPrice = "10.00";
  const char* need = "*";
  int bought = 0;
  const char* buyQty = "*";
  int others = 0, percent = 0, warn = 0, max = 0;
  bool conditionCheck = false;
  std::vector<Box> boxes = {};
  bool passes = false;
};

const Box kNotAboveListed{"Temporary buy price must be less than the listed buy price.", Icon::Information, Buttons::Ok,
                          platform::IDOK};
Box info(const char* text) { return {text, Icon::Information, Buttons::Ok, platform::IDOK}; }
Box question(const char* text, Buttons buttons, int answer) { return {text, Icon::Question, buttons, answer}; }

class TicketRulesTest : public testsupport::QtFixture {};

TEST_F(TicketRulesTest, EachRuleStopsAloneWithItsTextIconAndButtons) {
  const char* nearly = "Sellin quantity is within 1 of meeting the Buy quantity.";
  const char* condition = "Have you checked this books condition?";
  const char* noValue = "THIS BOOK HAS NO VALUE!\nAre you sure you want to buy it?";
  const std::vector<RuleCase> cases = {
      {.name = "price 0 and qty 0: only the price",
       .qty = 0,
       .price = "0.00",
       .boxes = {info("Price must be greater than 0.00")}},
      {.name = "price above listed", .qty = 1, .price = "12.01", .boxes = {kNotAboveListed}},
      {.name = "price equal to listed", .qty = 1, .price = "12.00", .passes = true},
      {.name = "no listed price: any positive", .qty = 1, .price = "99.00", .listed = "0", .passes = true},
      {.name = "qty 0", .qty = 0, .boxes = {info("Sellin quantity cannot be 0.")}},
      {.name = "qty over 99999", .qty = 100000, .boxes = {info("Invalid Quantity.")}},
      {.name = "qty under -9999", .qty = -10000, .bought = 20000, .boxes = {info("Invalid Quantity.")}},
      {.name = "need 0, qty 1",
       .qty = 1,
       .need = "0",
       .boxes = {info("Can only do a negative buy for this purchaser.")}},
      {.name = "need not a number, qty 1",
       .qty = 1,
       .need = "x",
       .boxes = {info("Can only do a negative buy for this purchaser.")}},
      {.name = "need 0, qty -1", .qty = -1, .need = "0", .bought = 1, .passes = true},
      {.name = "qty 5 over need 3", .qty = 5, .need = "3", .boxes = {info("Sellin quantity cannot exceed the need.")}},
      {.name = "qty 3 at need 3", .qty = 3, .need = "3", .buyQty = "10", .percent = 100, .passes = true},
      {.name = "maximum 4 with 3 on other lines",
       .qty = 2,
       .others = 3,
       .max = 4,
       .boxes = {info("Sellin quantity exceeds the transaction maximum of 4.")}},
      {.name = "warning 4, refused",
       .qty = 2,
       .others = 3,
       .warn = 4,
       .boxes = {question("Sellin quantity exceeds the transaction warning of 4.  Accept it anyway?", Buttons::YesNo,
                          platform::IDNO)}},
      {.name = "warning 4, accepted",
       .qty = 2,
       .others = 3,
       .warn = 4,
       .boxes = {question("Sellin quantity exceeds the transaction warning of 4.  Accept it anyway?", Buttons::YesNo,
                          platform::IDYES)},
       .passes = true},
      {.name = "return beyond bought",
       .qty = -3,
       .bought = 2,
       .boxes = {info("Cannot do negative sellin for more than the bought quantity.")}},
      {.name = "return of what was bought", .qty = -2, .bought = 2, .passes = true},
      {.name = "nearly met, cancelled",
       .qty = 2,
       .need = "3",
       .bought = 7,
       .buyQty = "10",
       .percent = 80,
       .boxes = {question(nearly, Buttons::OkCancel, platform::IDCANCEL)}},
      {.name = "nearly met, OK",
       .qty = 2,
       .need = "3",
       .bought = 7,
       .buyQty = "10",
       .percent = 80,
       .boxes = {question(nearly, Buttons::OkCancel, platform::IDOK)},
       .passes = true},
      {.name = "condition asked until Yes",
       .conditionCheck = true,
       .boxes = {question(condition, Buttons::YesNo, platform::IDNO),
                 {"Please check this books condition.", Icon::Warning, Buttons::Ok, platform::IDOK},
                 question(condition, Buttons::YesNo, platform::IDYES)},
       .passes = true},
      {.name = "no value, refused",
       .buyPrice = "0000.00",
       .boxes = {question(noValue, Buttons::YesNo, platform::IDNO)}},
      {.name = "no value, bought",
       .buyPrice = "0.00",
       .boxes = {question(noValue, Buttons::YesNo, platform::IDYES)},
       .passes = true},
  };
  for (const RuleCase& c : cases) {
    MessageBoxScript::begin();
    for (const Box& b : c.boxes) MessageBoxScript::arm(b.answer);
    CTicketItem item;
    item.m_nQty = c.qty;
    item.m_strPrice = c.price;
    item.m_purchase.m_strListedPrice = c.listed;
    item.m_purchase.m_strBuyPrice = c.buyPrice;
    item.m_purchase.m_strNeedQty = c.need;
    item.m_purchase.m_nBoughtQty = c.bought;
    item.m_purchase.m_strBuyQty = c.buyQty;
    item.m_purchase.m_nConditionCheck = 1;
    CSLSessionInfo session;
    session.m_nWithinPercent = c.percent;
    session.m_nTranWarningQty = c.warn;
    session.m_nTranMaxQty = c.max;
    session.m_nConditionCheck = c.conditionCheck;
    EXPECT_EQ(CheckItemRules(item, session, c.others, nullptr), c.passes) << c.name;
    const auto& shown = MessageBoxScript::shown();
    ASSERT_EQ(shown.size(), c.boxes.size()) << c.name;
    for (std::size_t i = 0; i < shown.size(); ++i) {
      EXPECT_EQ(shown[i].text.toStdString(), c.boxes[i].text) << c.name;
      EXPECT_EQ(shown[i].icon, c.boxes[i].icon) << c.name;
      EXPECT_EQ(shown[i].buttons, c.boxes[i].buttons) << c.name;
    }
    EXPECT_EQ(MessageBoxScript::leftoverAnswerCount(), 0) << c.name;
  }
  MessageBoxScript::begin();
}

TEST_F(TicketRulesTest, NumbersAreReadFromTheirLeadingPart) {
  const std::vector<std::pair<const char*, double>> decimals = {
      {"12.50abc", 12.5}, {"  -3x", -3}, {".5", 0.5}, {"*3", 0}, {"", 0}, {"1e2x", 100}, {"5.", 5}, {"-.", 0}};
  for (const auto& [text, value] : decimals) EXPECT_DOUBLE_EQ(LeadingDecimal(text), value) << text;
  const std::vector<std::pair<const char*, int>> integers = {
      {"12.50abc", 12},          {"  -3x", -3},          {".5", 0}, {"*3", 0}, {"99999999999", INT_MAX},
      {"-99999999999", INT_MIN}, {"4294967297", INT_MAX}};
  for (const auto& [text, value] : integers) EXPECT_EQ(LeadingInteger(text), value) << text;
}

TEST_F(TicketRulesTest, TypedPricesAndStoredAmountsAreNormalised) {
  const std::vector<std::pair<const char*, const char*>> prices = {
      {"12.5", "12.50"},  {" $7 ", "7.00"},     {".5", "0.50"},  {"0012.50", "12.50"}, {"-2", "-2.00"},
      {"12.505", "0.00"}, {"12.50abc", "0.00"}, {"abc", "0.00"}, {".", "0.00"},        {"12345678", "0.00"}};
  for (const auto& [typed, stored] : prices)
    EXPECT_EQ(CGlobalFunctions::VerifyDollarAmt(typed).toStdString(), stored) << typed;
  const std::vector<std::pair<const char*, const char*>> stripped = {
      {"0012.50", "12.50"}, {"00000", "0"}, {"0000.75", "0.75"}, {"15", "15"}, {"", "0"}};
  for (const auto& [text, shown] : stripped) EXPECT_EQ(StripLeadingZeros(text).toStdString(), shown) << text;
}

TEST_F(TicketRulesTest, QuantityBoxTakesDigitsAndFlipsTheSignWithMinus) {
  CTicketItem item;
  item.m_nQty = 1;
  item.m_strPrice = "10.00";
  item.m_purchase.m_strBuyPrice = "0010.00";
  item.m_purchase.m_strAltPrice = "0004.50";
  CEditItemDlg dlg(&item, false);
  testsupport::ModalDriver::whenModal([&](QWidget* modal) {
    auto* qty = testsupport::findControl<QLineEdit>(modal, CEditItemDlg::IDC_QTY);
    ASSERT_TRUE(qty->hasFocus());
    EXPECT_EQ(qty->selectedText().toStdString(), "1");
    QTest::keyClicks(qty, "12");
    for (Qt::Key ignored : {Qt::Key_Backspace, Qt::Key_Left, Qt::Key_A, Qt::Key_Return}) QTest::keyClick(qty, ignored);
    EXPECT_EQ(qty->text().toStdString(), "12");
    QTest::keyClick(qty, Qt::Key_Minus);
    EXPECT_EQ(qty->text().toStdString(), "-12");
    QTest::keyClick(qty, Qt::Key_Minus);
    QTest::keyClick(qty, Qt::Key_Minus);
    EXPECT_EQ(qty->text().toStdString(), "-12");
    auto* price = testsupport::findControl<QComboBox>(modal, CEditItemDlg::IDC_PRICE);
    EXPECT_EQ(price->itemText(0).toStdString(), "10.00");
    EXPECT_EQ(price->itemText(1).toStdString(), "4.50");
    EXPECT_TRUE(price->currentText().isEmpty());
    testsupport::typeInto(modal, CEditItemDlg::IDC_PRICE, "4.5");
    testsupport::pressKey(modal, Qt::Key_Return);
  });
  ASSERT_EQ(dlg.runModal(), platform::IDOK);
  EXPECT_EQ(item.m_nQty, -12);
  EXPECT_EQ(item.m_strPrice.toStdString(), "4.50");
}

TEST_F(TicketRulesTest, LineDetailsListPurchaserAndBook) {
  CTicketItem item;
  item.m_purchase.m_strPurchaser = "Ostrand Company";
  item.m_purchase.m_strBuyPrice = "0012.50";
  item.m_detail.m_nStolen = 1;
  CLineItemFill fill;
  ASSERT_TRUE(fill.Fill(&item));
  const CDataLines& lines = fill.GetDataArr();
  ASSERT_EQ(lines.size(), 18);
  std::string money;
  for (const CData& line : lines) money += line.m_bMoney ? "$" : ".";
  EXPECT_EQ(money, ".....$$$..........");
  EXPECT_EQ(lines[0].m_strValue.toStdString(), "Ostrand Company");
  EXPECT_EQ(lines[1].m_strValue.toStdString(), "No");
  EXPECT_EQ(lines[9].m_strValue.toStdString(), "0");
  EXPECT_EQ(lines[15].m_strValue.toStdString(), "Yes");
  EXPECT_TRUE(lines[17].m_strLabel.isEmpty() && lines[17].m_strValue.isEmpty());
  EXPECT_FALSE(CLineItemFill().Fill(nullptr));
}

}  // namespace
