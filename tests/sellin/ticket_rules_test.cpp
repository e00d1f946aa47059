// A ticket line's quantity and price rules, numbers and typed prices, and the quantity keys.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <climits>

#include "platform/message_box.h"
#include "sellin/edit_item_dlg.h"
#include "sellin/item_rules.h"
#include "sellin/ticket_item.h"
#include "tessel/global_functions.h"
#include "tests/support/qt_fixture.h"
#include "wire/item_rules.h"

namespace {

using platform::IDCANCEL, platform::IDNO, platform::IDOK, platform::IDYES;
using platform::MessageBoxScript;
using Icon = platform::MessageIcon;
using Buttons = platform::MessageButtons;

struct Box {
  std::string text;
  Icon icon = Icon::Information;
  Buttons buttons = Buttons::Ok;
  int answer = IDOK;
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

using TicketRulesTest = testsupport::QtFixture;

TEST_F(TicketRulesTest, EachFindingShowsItsIconAndButtonsAndTheAnswerDecides) {
  const std::string warning = "Sellin quantity exceeds the transaction warning of 4.  Accept it anyway?";
  const std::string nearly = "Sellin quantity is within 1 of meeting the Buy quantity.";
  const std::string checked = "Have you checked this books condition?";
  const std::string noValue = "THIS BOOK HAS NO VALUE!\nAre you sure you want to buy it?";
  const auto ask = [](const std::string& text, int answer, Buttons buttons = Buttons::YesNo) {
    return Box{text, Icon::Question, buttons, answer};
  };
  // clang-format off
  const std::vector<RuleCase> cases = {
      {.name = "above listed", .price = "12.01",
       .boxes = {{"Temporary buy price must be less than the listed buy price."}}},
      {.name = "no listed price", .price = "99.00", .listed = "0", .passes = true},
      {.name = "need x", .need = "x", .boxes = {{"Can only do a negative buy for this purchaser."}}},
      {.name = "need 0, qty -1", .qty = -1, .need = "0", .bought = 1, .passes = true},
      {.name = "qty 5, need 3", .qty = 5, .need = "3", .boxes = {{"Sellin quantity cannot exceed the need."}}},
      {.name = "warning, No", .qty = 2, .others = 3, .warn = 4, .boxes = {ask(warning, IDNO)}},
      {.name = "nearly met, Cancel", .qty = 2, .need = "3", .bought = 7, .buyQty = "10", .percent = 80,
       .boxes = {ask(nearly, IDCANCEL, Buttons::OkCancel)}},
      {.name = "condition until Yes", .conditionCheck = true,
       .boxes = {ask(checked, IDNO), {"Please check this books condition.", Icon::Warning}, ask(checked, IDYES)},
       .passes = true},
      {.name = "no value, No", .buyPrice = "0000.00", .boxes = {ask(noValue, IDNO)}},
      {.name = "no value, Yes", .buyPrice = "0", .boxes = {ask(noValue, IDYES)}, .passes = true},
  };
  // clang-format on
  for (const RuleCase& c : cases) {
    MessageBoxScript::begin();
    for (const Box& b : c.boxes) MessageBoxScript::arm(b.answer);
    CTicketItem item;
    item.m_nQty = c.qty;
    item.m_strPrice = c.price;
    CSLPurchaseDtlInfo& p = item.m_purchase;
    std::tie(p.m_strListedPrice, p.m_strBuyPrice, p.m_strNeedQty, p.m_nBoughtQty, p.m_strBuyQty) =
        std::tuple(c.listed, c.buyPrice, c.need, c.bought, c.buyQty);
    p.m_nConditionCheck = 1;
    CSLSessionInfo session;
    std::tie(session.m_nWithinPercent, session.m_nTranWarningQty, session.m_nTranMaxQty, session.m_nConditionCheck) =
        std::tuple(c.percent, c.warn, c.max, int(c.conditionCheck));
    EXPECT_EQ(CheckItemRules(item, session, c.others, nullptr), c.passes) << c.name;
    const auto seen = [](const std::string& text, Icon icon, Buttons buttons) {
      return text + "|" + std::to_string(int(icon)) + std::to_string(int(buttons));
    };
    std::vector<std::string> shown, expected;
    for (const auto& b : MessageBoxScript::shown()) shown.push_back(seen(b.text.toStdString(), b.icon, b.buttons));
    for (const Box& b : c.boxes) expected.push_back(seen(b.text, b.icon, b.buttons));
    EXPECT_EQ(shown, expected) << c.name;
    EXPECT_EQ(MessageBoxScript::leftoverAnswerCount(), 0) << c.name;
  }
  MessageBoxScript::begin();
}

TEST_F(TicketRulesTest, QuantitiesAreReadFromTheirLeadingPartAndTypedPricesAsDollarsAndCents) {
  for (const auto& [text, value] : std::vector<std::pair<const char*, int>>{
           {"12.50abc", 12}, {"  -3x", -3}, {".5", 0}, {"*3", 0}, {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}})
    EXPECT_EQ(LeadingInteger(text), value) << text;
  // The amounts themselves are read in wire's money test; here what a typed text that is no amount becomes.
  for (const auto& [typed, stored] : std::vector<std::pair<const char*, const char*>>{
           {"12.5", "12.50"}, {" $7 ", "7.00"}, {"-2", "-2.00"}, {"12.50abc", "0.00"}})
    EXPECT_EQ(CGlobalFunctions::VerifyDollarAmt(typed).toStdString(), stored) << typed;
  for (const auto& [text, shown] : std::vector<std::pair<const char*, const char*>>{
           {"0012.50", "12.50"}, {"00000", "0"}, {"0000.75", "0.75"}, {"15", "15"}})
    EXPECT_EQ(StripLeadingZeros(text).toStdString(), shown) << text;
}

TEST_F(TicketRulesTest, QuantityBoxTakesDigitsAndMinusOnlyAndTheCaptionConfirms) {
  CTicketItem item;
  item.m_nQty = 1;
  CEditItemDlg dlg(&item, false);
  testsupport::ModalDriver::whenModal([&](QWidget* modal) {
    auto* qty = testsupport::findControl<QLineEdit>(modal, CEditItemDlg::IDC_QTY);
    for (Qt::Key key : {Qt::Key_1, Qt::Key_2, Qt::Key_Backspace, Qt::Key_Left, Qt::Key_A, Qt::Key_Return, Qt::Key_Minus,
                        Qt::Key_Minus, Qt::Key_Minus})
      QTest::keyClick(qty, key);
    modal->close();
  });
  ASSERT_EQ(dlg.runModal(), IDOK);
  EXPECT_EQ(item.m_nQty, -12);
}

// The widest quantities the store server takes are seen whole, the cursor at their end.
TEST_F(TicketRulesTest, TheQuantityBoxShowsTheWidestQuantitiesWhole) {
  for (const std::int64_t qty : {wire::rules::kMinQty, wire::rules::kMaxQty}) {
    CTicketItem item;
    item.m_nQty = int(qty);
    CEditItemDlg dlg(&item, false);
    testsupport::runClosing<CEditItemDlg>(dlg, [qty](CEditItemDlg& dlg) {
      QLineEdit* box = dlg.edit(CEditItemDlg::IDC_QTY);
      box->grab();  // painting scrolls the text to the cursor
      EXPECT_EQ(box->cursorPositionAt(QPoint(4, box->height() / 2)), 0) << qty << " is scrolled out of sight";
    });
  }
}

}  // namespace
