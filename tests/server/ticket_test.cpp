// Sellin's ticket on the real server, SQLite and PostgreSQL: updates and refusals, who may write,
// exactly-once updates, races for the last copy, the audit trail, stored lines and receipts.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>

#include "server/services.h"
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using wire::requests::ticket;
using wire::requests::ticketItem;
using wire::requests::ticketLines;

constexpr const char* kBook = "B0000001";
constexpr const char* kPurchaser = "Ostrand Company";
constexpr std::int64_t kSession = 1002;         // no student ID, transaction maximum 6
constexpr std::int64_t kStudentSession = 1001;  // needs a student ID
constexpr int kAdd = wire::kPacketNewItem, kChange = wire::kPacketChange, kDelete = wire::kPacketDelete;

const LineArgs kUnlimited{.itemId = "B0000000", .price = "1.00"};  // Ostrand buys it without limit
const LineArgs kReturn{
    .line = 2, .purchaser = "Midwest Book Wholesale", .itemId = "B0000003", .qty = -1, .price = "3.00"};

std::string onlyBuyerOf(int store) {
  return "Only a buyer of store " + std::to_string(store) +
         " may work with its tickets: choose the buying session again with a buyer's user name and password.";
}

// A request the server must refuse with its sentence.
struct Refusal {
  const char* what;
  std::string token, text;
  int packet;
  std::string sentence;
};

class Ticket : public BackendServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // Known terms: buys 3, bought 2, so one more copy is needed; listed at 15.00.
    sideConnection()->execute(
        "UPDATE book_purchasers SET no_limit = 0, buy_qty = 3, bought_qty = 2, buy_price_cents = 1250,"
        " listed_price_cents = 1500 WHERE item_id = ? AND purchaser = ?",
        {std::string(kBook), std::string(kPurchaser)});
    token_ = login(wire::kAppSellin, "buyer", "buyer1");
  }
  // Whatever the test did, each ticket's count of lines and total are its lines'.
  void TearDown() override {
    if (!database_) return;
    EXPECT_EQ(texts("SELECT receipt FROM tickets t WHERE line_count <> (SELECT COUNT(*) FROM ticket_lines l"
                    " WHERE l.ticket_id = t.ticket_id) OR total_cents <> (SELECT COALESCE(SUM(qty * price_cents), 0)"
                    " FROM ticket_lines l WHERE l.ticket_id = t.ticket_id)"),
              std::vector<std::string>{});
  }

  std::string item(const std::string& receipt, int packet, const LineArgs& a = {}) const {
    return sellin(token_, itemText(receipt, a), packet);
  }
  std::string tran(const std::string& receipt, int packet) const {
    return sellin(token_, wire::requests::ticketTran(newUpdateId(), receipt), packet);
  }
  // The ticket lines (ticket/line:qty@cents), then the purchaser's bought quantity.
  std::vector<std::string> lines() const {
    return texts("SELECT ticket_id || '/' || line || ':' || qty || '@' || price_cents FROM ticket_lines UNION ALL"
                 " SELECT 'bought=' || bought_qty FROM book_purchasers WHERE session_id = 1002"
                 " AND item_id = 'B0000001' AND purchaser = 'Ostrand Company' ORDER BY 1");
  }
  // The lines, then the store's counts of tickets, audit rows and update identities, and bought quantities.
  std::vector<std::string> stored() const {
    std::vector<std::string> all = lines();
    all.push_back(texts("SELECT (SELECT COUNT(*) FROM tickets) || ' ' || (SELECT COUNT(*) FROM ticket_audit) || ' ' ||"
                        " (SELECT COUNT(*) FROM ticket_updates) || ' ' || SUM(bought_qty) FROM book_purchasers")
                      .at(0));
    return all;
  }
  // Each refused with its sentence, changing nothing.
  void expectRefused(const std::vector<Refusal>& cases) const {
    const std::vector<std::string> before = stored();
    for (const Refusal& c : cases) {
      EXPECT_EQ(sellin(c.token, c.text, c.packet), c.sentence) << c.what;
      EXPECT_EQ(stored(), before) << c.what << " changed the database";
    }
  }
  std::vector<std::string> audit() const {
    return texts("SELECT line || ' ' || action FROM ticket_audit ORDER BY audit_id");
  }

  std::string token_;
};

INSTANTIATE_TEST_SUITE_P(Backends, Ticket, kBothBackends, backendName);

TEST_P(Ticket, OpenHandsOutOneReceiptUntilTheTicketHoldsLines) {
  const std::string first = openTicket(token_);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(openTicket(token_), first) << "a retried open piled up a receipt";
  const std::string student = openTicket(token_, "S1001");
  EXPECT_NE(student, first) << "another student shares a ticket";
  EXPECT_EQ(openTicket(token_, "S1001"), student);

  ASSERT_EQ(item(first, kAdd), "ok");
  const std::string next = openTicket(token_);
  EXPECT_NE(next, first) << "a ticket with lines was handed out again";
  const std::string clerks = openTicket(buyingLogin("clerk", "clerk1"));
  EXPECT_NE(clerks, next) << "two users share a ticket";
  EXPECT_EQ(texts("SELECT buyer || ' ' || store_num FROM tickets WHERE receipt = '" + clerks + "'"),
            std::vector<std::string>{"buyer 1"})
      << "the clerk's ticket records another buyer than the one checked";
}

// Buying rules, the ticket's state and who may write at which store: each refusal a sentence, changing nothing.
TEST_P(Ticket, RefusedRequestsChangeNothing) {
  const std::string receipt = openTicket(token_);
  ASSERT_EQ(item(receipt, kAdd, {.line = 1, .qty = -1, .price = "3.00"}), "ok");
  const std::string ended = openTicket(token_, "S-ENDED");
  ASSERT_EQ(item(ended, kAdd, kUnlimited), "ok");
  ASSERT_EQ(tran(ended, kChange), "ok");
  const std::string clerk = login(wire::kAppSellin, "clerk", "clerk1");        // may not buy
  const std::string manager = login(wire::kAppSellin, "manager", "manager1");  // may buy at store 2
  const std::string clerkForBuyer = buyingLogin("clerk", "clerk1");
  const std::string others = openTicket(clerkForBuyer);
  const auto add = [&](const LineArgs& a) { return itemText(receipt, a); };
  const std::string blankStudent = openTicket(token_, "S-BLANK");  // opened with blanks by an earlier server
  sideConnection()->execute("UPDATE tickets SET student_id = '   ' WHERE receipt = ?", {blankStudent});

  expectRefused({
      {"quantity 0", token_, add({.line = 2, .qty = 0}), kAdd, "Sellin quantity cannot be 0."},
      {"above the listed price", token_, add({.line = 2, .price = "15.01"}), kAdd,
       "Temporary buy price must be less than the listed buy price."},
      {"three decimals", token_, add({.line = 2, .price = "12.505"}), kAdd,
       "The price \"12.505\" is not a dollar amount: type it like 12.50."},
      {"above the highest price, and the listed one", token_, add({.line = 2, .price = "100000.00"}), kAdd,
       "Price must be no more than 99999.99, the highest price the store takes."},
      {"more than the need", token_, add({.line = 2, .qty = 3}), kAdd, "Sellin quantity cannot exceed the need."},
      {"return beyond what was bought", token_, add({.line = 2, .qty = -2}), kAdd,
       "Cannot do negative sellin for more than the bought quantity."},
      {"change into a return beyond it", token_, add({.line = 1, .qty = -3, .price = "3.00"}), kChange,
       "Cannot do negative sellin for more than the bought quantity."},
      {"above the transaction maximum", token_,
       add({.line = 2, .purchaser = "Midwest Book Wholesale", .itemId = "B0000003", .qty = 7}), kAdd,
       "Sellin quantity exceeds the transaction maximum of 6."},
      {"a purchaser who does not buy it", token_, add({.line = 2, .purchaser = "Nobody"}), kAdd,
       "This purchaser does not buy this book in this buying session: choose the purchaser again."},
      {"a session needing a student", token_, add({.line = 2, .session = kStudentSession}), kAdd,
       "This buying session needs a student ID: end this ticket and start one with the student's ID."},
      {"a session needing a student on a ticket of blanks", token_,
       itemText(blankStudent, {.session = kStudentSession}), kAdd,
       "This buying session needs a student ID: end this ticket and start one with the student's ID."},
      {"a student ID of blanks", token_, ticket("buyer", "   ", 1), wire::kPacketQuery, "Please Enter a Student ID"},
      {"a direction mark in the student ID", token_, ticket("buyer", "S1\u202E2", 1), wire::kPacketQuery,
       "The student ID holds the invisible direction mark U+202E. Scan or type it again."},
      {"a direction mark in the buyer's name", token_, ticket("buy\u200Fer", "", 1), wire::kPacketQuery,
       std::string(storeserver::kUnreadableRequest)},
      {"a line already there", token_, add({.line = 1}), kAdd,
       "Line 1 is already on this ticket: start the ticket again."},
      {"a change of another book", token_, add({.line = 1, .itemId = "B0000002"}), kChange,
       "Line 1 holds another book or purchaser on the store server: start the ticket again."},
      {"an ended ticket", token_, itemText(ended), kAdd, "This ticket has already ended: start a new ticket."},
      {"a void of an ended ticket", token_, wire::requests::ticketTran(newUpdateId(), ended), kDelete,
       "This ticket has already ended: its lines can no longer be deleted."},
      {"another user's receipt", token_, itemText(others), kAdd,
       "This ticket was opened by another user: start a new ticket."},
      {"no such receipt", token_, itemText("99999999"), kAdd,
       "The store server has no ticket with this receipt number: start a new ticket."},
      {"a clerk's ticket", clerk, ticket("clerk", "", 1), wire::kPacketQuery, onlyBuyerOf(1)},
      {"a clerk's open tickets", clerk, wire::requests::openTickets(1), wire::kPacketQuery, onlyBuyerOf(1)},
      {"another store's buyer", manager, ticket("someone-else", "", 1), wire::kPacketQuery, onlyBuyerOf(1)},
      {"a name other than the checked buyer's", clerkForBuyer, ticket("clerk", "", 1), wire::kPacketQuery,
       "This handheld names the buyer clerk, but the buying session was chosen for buyer: choose the buying session "
       "again."},
      {"a checked buyer at another store", clerkForBuyer, ticket("buyer", "", 2), wire::kPacketQuery, onlyBuyerOf(2)},
      {"a buyer at another store", token_, ticket("buyer", "", 2), wire::kPacketQuery, onlyBuyerOf(2)},
      {"a book's ISBN as the student ID", token_, ticket("buyer", "978-0-00-100000-1", 1), wire::kPacketQuery,
       "978-0-00-100000-1 is a book's ISBN, not a student ID: scan the barcode of the student's ID card, or type the "
       "student's ID."},
      {"a buyer in another store's session", token_, add({.line = 2, .session = 2001}), kAdd,
       "This buying session does not belong to this store: choose the session again."},
  });

  // Rights are read again at each request: a buyer who may no longer buy writes nothing, nor a log-in that checked him.
  ASSERT_EQ(sellin(clerkForBuyer, itemText(others, kUnlimited), kAdd), "ok");
  sideConnection()->execute("UPDATE users SET can_buy = 0 WHERE user_name = 'buyer'");
  const std::vector<std::string> withLine = stored();
  EXPECT_EQ(sellin(clerkForBuyer, itemText(others, {.itemId = "B0000000", .qty = 2}), kChange), onlyBuyerOf(1));
  EXPECT_EQ(tran(receipt, kChange), onlyBuyerOf(1));
  EXPECT_EQ(stored(), withLine);
}

TEST_P(Ticket, AnUpdateIdentityNamesOneChange) {
  const std::string receipt = openTicket(token_);
  const std::string id = newUpdateId();
  const std::string text = ticketItem(id, receipt, 4, kPurchaser, kSession, kBook, 1, "12.50");
  EXPECT_EQ(sellin(token_, text, kAdd), "ok");
  EXPECT_EQ(sellin(token_, text, kAdd), "ok");
  EXPECT_EQ(lines(), (std::vector<std::string>{"1/4:1@1250", "bought=3"}));

  const std::string otherChange = "This change was not saved: the store server already holds a different change"
                                  " under its number. Make the change again.";
  const std::string unreadable(storeserver::kUnreadableRequest);
  std::string accented;  // 36 bytes, 18 characters
  for (int i = 0; i < 18; ++i) accented += "\xc3\xa9";
  const auto line5 = [&](const std::string& identity) {
    return ticketItem(identity, receipt, 5, kPurchaser, kSession, kBook, -1, "12.50");
  };
  expectRefused({
      {"a new line 5 under the identity of line 4", token_, line5(id), kAdd, otherChange},
      {"the same text as a change", token_, text, kChange, otherChange},
      {"a void under an item's identity", token_, wire::requests::ticketTran(id, receipt), kDelete, otherChange},
      {"another user's repeat", login(wire::kAppSellin, "manager", "manager1"), text, kAdd, otherChange},
      {"an identity of 36 bytes in 18 letters", token_, line5(accented), kAdd, unreadable},
      {"a UUID in capitals", token_, line5("0000000A-0000-4000-8000-00000000000B"), kAdd, unreadable},
  });

  // Repeats built afresh: a delete of a deleted line and an End of an ended ticket succeed.
  for (int packet : {kDelete, kDelete}) EXPECT_EQ(item(receipt, packet, {.line = 4}), "ok");
  EXPECT_EQ(lines(), std::vector<std::string>{"bought=2"}) << "the deleted line's copy is still bought";
  for (int packet : {kChange, kChange}) EXPECT_EQ(tran(receipt, packet), "ok");
  EXPECT_EQ(audit(), (std::vector<std::string>{"0 open", "4 add", "4 delete", "0 end"}));
}

// A lone update checks its session in its own transaction: one that does not hold refuses the whole exchange.
TEST_P(Ticket, AnUpdateOnASessionThatDoesNotHoldIsRefusedAsAWhole) {
  const std::string receipt = openTicket(token_);
  std::string altered = token_;
  altered[0] = altered[0] == '0' ? '1' : '0';
  const std::string unknown = "The session is not known to the store server; log in again.";
  const struct {
    const char* change;
    int app;
    std::string token;
    int packet;
    std::string sentence;
  } cases[] = {
      {"", wire::kAppSellin, "", kAdd, "No session token was sent; log in first."},
      {"", wire::kAppSellin, altered, kAdd, unknown},
      {"", wire::kAppSellin, altered, wire::kPacketQuery, unknown},
      {"", wire::kAppStipendo, token_, kAdd, "The session belongs to another program; log in again."},
      {"UPDATE users SET active = 0 WHERE user_name = 'buyer'", wire::kAppSellin, token_, kAdd,
       "The user buyer is disabled."},
      {"UPDATE session_tokens SET expires_at = 0", wire::kAppSellin, token_, kAdd,
       "The session has expired; log in again."},
  };
  const std::vector<std::string> before = stored();
  for (const auto& c : cases) {
    if (*c.change) sideConnection()->execute(c.change);
    const Answer a = exchangeAnswer(c.app, c.token, {query(itemText(receipt), c.packet)});
    EXPECT_EQ(a.status, 401) << c.sentence << " (packet " << c.packet << "): " << a.body;
    EXPECT_EQ(a.sentence(), c.sentence);
    EXPECT_EQ(stored(), before) << c.sentence;
  }
}

// Adds, changes, deletes and voids in any order keep bought quantities at 0 or more and the ticket within its
// maximum, and no add or raised line passes the need; a refused move changes nothing. Undoing a line (its delete,
// the ticket's void) gives back what it took, so a mistaken return can be taken off after the need was met again.
TEST_P(Ticket, NoSequenceOfMovesBreaksTheNeedTheMaximumOrZero) {
  const auto ostrand = [](std::int64_t line, std::int64_t qty) { return LineArgs{.line = line, .qty = qty}; };
  const auto midwest = [](std::int64_t line, std::int64_t qty) {  // buys B0000003 without limit
    return LineArgs{.line = line, .purchaser = "Midwest Book Wholesale", .itemId = "B0000003", .qty = qty};
  };
  constexpr int kVoid = -1;
  struct Case {
    const char* what;
    std::int64_t bought;                          // Ostrand's of the 3 of B0000001 it buys
    std::vector<std::pair<int, LineArgs>> steps;  // packet and line; each accepted but the last
    std::string last;                             // "ok" or the last step's sentence
    std::vector<std::string> boughtAfter;         // Ostrand's, then Midwest's of B0000003 (3 before)
    std::string beforeLast = "";                  // Ostrand's terms set before the last step, as elsewhere
  };
  const std::string more = " more copies of this book than it buys (3): ";
  const std::vector<Case> cases = {
      {"a return deleted after the need was met again",
       3,
       {{kAdd, ostrand(1, -1)}, {kAdd, ostrand(2, 1)}, {kDelete, ostrand(1, -1)}},
       "ok",
       {"4", "3"}},
      {"an add after that",
       3,
       {{kAdd, ostrand(1, -1)}, {kAdd, ostrand(2, 1)}, {kDelete, ostrand(1, -1)}, {kAdd, ostrand(3, 1)}},
       "Can only do a negative buy for this purchaser.",
       {"4", "3"}},
      {"a return deleted past the count's bound",
       3,
       {{kAdd, ostrand(1, -1)}, {kDelete, ostrand(1, -1)}},
       "Deleting this line would count more than 99999 copies of this book bought for Ostrand Company: tell the back "
       "office.",
       {"99999", "3"},
       "bought_qty = 99999"},
      {"a return deleted past the maximum",
       2,
       {{kAdd, midwest(1, 6)}, {kAdd, midwest(2, -1)}, {kAdd, midwest(3, 1)}, {kDelete, midwest(2, -1)}},
       "Deleting this line would put 7 copies of this book on the ticket, above the transaction maximum of 6: "
       "lower another line of this book first.",
       {"2", "9"}},
      {"a return lowered past the need",
       3,
       {{kAdd, ostrand(1, -2)}, {kAdd, ostrand(2, 2)}, {kChange, ostrand(1, -1)}},
       "This change would give Ostrand Company" + more + "lower another line of this book first.",
       {"3", "3"}},
      {"a line lowered after an import lowered the need",
       1,
       {{kAdd, ostrand(1, 2)}, {kChange, ostrand(1, 1)}},
       "ok",
       {"2", "3"},
       "buy_qty = 1"},
      {"a line deleted down to none bought", 0, {{kAdd, ostrand(1, 1)}, {kDelete, ostrand(1, 1)}}, "ok", {"0", "3"}},
      {"a line deleted after its copy was returned elsewhere",
       0,
       {{kAdd, ostrand(1, 1)}, {kDelete, ostrand(1, 1)}},
       "Deleting this line would take back copies of this book that were already returned on another ticket: "
       "keep the line as it is, or tell the back office.",
       {"0", "3"},
       "bought_qty = 0"},
      {"a void of +1 then -2", 1, {{kAdd, ostrand(1, 1)}, {kAdd, ostrand(2, -2)}, {kVoid, {}}}, "ok", {"1", "3"}},
      {"a void whose return was bought again since",
       3,
       {{kAdd, midwest(1, 1)}, {kAdd, ostrand(2, -1)}, {kVoid, {}}},
       "ok",
       {"4", "3"},
       "bought_qty = 3"},
  };
  const auto setOstrand = [&](const std::string& terms) {
    sideConnection()->execute("UPDATE book_purchasers SET " + terms + " WHERE item_id = 'B0000001'");
  };
  for (const Case& c : cases) {
    setOstrand("buy_qty = 3, bought_qty = " + std::to_string(c.bought));
    sideConnection()->execute("UPDATE book_purchasers SET bought_qty = 3 WHERE item_id = 'B0000003'");
    const std::string receipt = openTicket(token_);
    std::vector<std::string> before;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const bool last = i + 1 == c.steps.size();
      if (last && !c.beforeLast.empty()) setOstrand(c.beforeLast);
      if (last) before = lines();
      const auto& [packet, line] = c.steps[i];
      EXPECT_EQ(packet == kVoid ? tran(receipt, kDelete) : item(receipt, packet, line), last ? c.last : "ok")
          << c.what << ", step " << i + 1;
    }
    if (c.last != "ok") {
      EXPECT_EQ(lines(), before) << c.what << ": a refused move changed the ticket";
    }
    EXPECT_EQ(texts("SELECT '' || bought_qty FROM book_purchasers WHERE session_id = 1002 AND"
                    " item_id IN ('B0000001', 'B0000003') ORDER BY item_id"),
              c.boughtAfter)
        << c.what;
    ASSERT_EQ(tran(receipt, kChange), "ok");
  }
}

TEST_P(Ticket, LinesChangePrintAndAreVoidedWithTheirBoughtQuantity) {
  sideConnection()->execute(
      "UPDATE books SET title = ? WHERE item_id = ?",
      {std::string("A Title Long Enough To Need Two Lines On A Receipt Printer"), std::string(kBook)});
  const std::string receipt = openTicket(token_);
  ASSERT_EQ(item(receipt, kAdd, {.line = 1}), "ok");
  ASSERT_EQ(item(receipt, kAdd, {.line = 2, .qty = -2, .price = "3.00"}), "ok");
  EXPECT_EQ(lines(), (std::vector<std::string>{"1/1:1@1250", "1/2:-2@300", "bought=1"}));
  // Changed: the line's own earlier quantity no longer counts against the need.
  ASSERT_EQ(item(receipt, kChange, {.line = 1, .qty = 3, .price = "14.00"}), "ok");
  EXPECT_EQ(lines(), (std::vector<std::string>{"1/1:3@1400", "1/2:-2@300", "bought=3"}));

  const wire::Reply print = askWith(wire::kAppSellin, token_, query(wire::requests::receiptPrint(receipt, 1)));
  ASSERT_FALSE(print.error) << print.text;
  const std::vector<std::string> printed = printLines(print.text);
  const std::string isbn = texts("SELECT isbn13 FROM books WHERE item_id = 'B0000001'").at(0);
  for (const std::string& expected : {"Receipt " + receipt, std::string("Buyer: buyer"), "ISBN " + isbn,
                                      std::string("  3 x $14.00"), std::string("  -2 x $3.00  ")})
    EXPECT_NE(print.text.find(expected), std::string::npos) << expected << " missing from\n" << print.text;
  ASSERT_FALSE(printed.empty());
  EXPECT_EQ(printed.back(), "Total" + std::string(42 - 5 - 6, ' ') + "$36.00");
  // A copy: any ticket of the store, for any of its buyers, headed as such.
  const auto printAs = [&](const std::string& token, const std::string& number, std::int64_t store, bool copy) {
    return askWith(wire::kAppSellin, token, query(wire::requests::receiptPrint(number, store, copy))).text;
  };
  const std::string clerk = buyingLogin("clerk", "clerk1");
  EXPECT_EQ(printAs(clerk, receipt, 1, true), "*** COPY ***\r\n" + print.text);
  EXPECT_EQ(printAs(clerk, std::to_string(std::stoll(receipt)), 1, true), "*** COPY ***\r\n" + print.text)
      << "typed without its leading zeros";
  EXPECT_EQ(printAs(clerk, receipt, 1, false), "This ticket was opened by another user: start a new ticket.");
  EXPECT_EQ(printAs(clerk, "99999999", 1, true), "There is no receipt 99999999 at this store.");
  EXPECT_EQ(printAs(login(wire::kAppSellin, "manager", "manager1"), receipt, 2, true),
            "Receipt " + receipt + " is not a receipt of this store.");

  ASSERT_EQ(tran(receipt, kDelete), "ok");
  EXPECT_EQ(lines(), std::vector<std::string>{"bought=2"});
  EXPECT_EQ(audit(), (std::vector<std::string>{"0 open", "1 add", "2 add", "1 change", "1 void", "2 void", "0 void"}));
  // Voided: ended (by whom and why is the back office test's), so the next student gets a new receipt; an empty
  // ticket has nothing to void.
  EXPECT_EQ(item(receipt, kAdd, {.line = 3}), "This ticket has already ended: start a new ticket.");
  const std::string next = openTicket(token_);
  EXPECT_NE(next, receipt);
  EXPECT_EQ(tran(next, kDelete), "ok");
  EXPECT_EQ(openTicket(token_), next) << "an empty ticket's Delete ended it";
  EXPECT_EQ(texts("SELECT old_values || ' -> ' || new_values FROM ticket_audit WHERE action = 'change'"),
            std::vector<std::string>{"session=1002 item=B0000001 purchaser=Ostrand Company qty=1 price=12.50 -> "
                                     "session=1002 item=B0000001 purchaser=Ostrand Company qty=3 price=14.00"});
}

TEST_P(Ticket, StoredLinesComeBackWithTheTermsTheyWereAddedUnder) {
  const std::string receipt = openTicket(token_);
  const wire::Reply none = askWith(wire::kAppSellin, token_, query(ticketLines(receipt, 1)));
  EXPECT_EQ(none.error ? none.text : "[" + none.text + "]", "[]") << "a ticket with no lines";

  const auto termsNow = [&](const LineArgs& l) {
    const wire::Reply r = askWith(wire::kAppSellin, token_, query(wire::requests::purchasers(l.session, l.itemId, 1)));
    for (const auto& record : records(r))
      if (fieldsOf(record, wire::layouts::slPurchase(), {"purchaser"}) == l.purchaser) return record;
    return std::u16string(u"(not listed)");
  };
  const std::u16string termsWhenAdded = termsNow({});
  ASSERT_EQ(item(receipt, kAdd), "ok");
  ASSERT_EQ(item(receipt, kAdd, kReturn), "ok");
  ASSERT_EQ(item(receipt, kChange, {.price = "14.00"}), "ok");
  // The purchaser's terms removed since: its name with nothing to buy. An ended ticket is read too.
  sideConnection()->execute("DELETE FROM book_purchasers WHERE item_id = 'B0000003'");
  ASSERT_EQ(tran(receipt, kChange), "ok");

  const auto got = records(askWith(wire::kAppSellin, token_, query(ticketLines(receipt, 1))));
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(fieldsOf(got[0], wire::layouts::ticketLine(), {"line", "item_id", "purchaser", "qty", "price"}),
            "00001|B0000001|Ostrand Company|000001|00014.00");
  EXPECT_EQ(fieldsOf(got[1], wire::layouts::slDetail(), {"item_id", "stolen"}), "B0000001|1");
  EXPECT_EQ(got[2], termsWhenAdded) << "the line's own copies counted in its terms";
  EXPECT_EQ(fieldsOf(got[3], wire::layouts::ticketLine(), {"line", "qty"}), "00002|-00001");
  EXPECT_EQ(fieldsOf(got[5], wire::layouts::slPurchase(), {"purchaser", "buy_qty", "bought_qty", "need_qty"}),
            "Midwest Book Wholesale|0|00000|0");

  const std::string manager = buyingLogin("manager", "manager1");  // buys at store 2, proved buyer at store 1
  const std::string managers = openTicket(manager);
  EXPECT_EQ(sellin(manager, ticketLines(receipt, 1)), "This ticket was opened by another user: start a new ticket.");
  EXPECT_EQ(sellin(manager, ticketLines(managers, 2)), "This ticket belongs to another store: start a new ticket.");
}

TEST_P(Ticket, OpenTicketsAreTheUsersOwnWithLinesNewestFirst) {
  const auto ticketWith = [&](const std::string& token, const std::string& student,
                              const std::vector<LineArgs>& lines) {
    const std::string receipt = openTicket(token, student);
    for (const LineArgs& l : lines) EXPECT_EQ(sellin(token, itemText(receipt, l), kAdd), "ok") << student;
    return receipt;
  };
  // Six, the session's transaction maximum: a ticket's maximum counts only its own lines.
  const std::string older = ticketWith(token_, "S1", {{.line = 2, .itemId = "B0000000", .qty = 6}});
  const std::string newer = ticketWith(token_, "S2", {kUnlimited, kReturn});
  ticketWith(token_, "S3", {});
  ASSERT_EQ(tran(ticketWith(token_, "S4", {kUnlimited}), kChange), "ok");
  ticketWith(buyingLogin("clerk", "clerk1"), "S5", {kUnlimited});

  EXPECT_EQ(rows(askWith(wire::kAppSellin, token_, query(wire::requests::openTickets(1))), wire::layouts::openTicket(),
                 {"receipt", "student_id", "lines", "total"}),
            (std::vector<std::string>{newer + "|S2|00002|-00000002.00", older + "|S1|00001|000000075.00"}));
}

// Two servers on one PostgreSQL database, as a chain runs them, handhelds on either.
class TwoServers : public Ticket {
 protected:
  void SetUp() override {
    Ticket::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    std::string error;
    second_ = storeserver::StoreServer::start(options(), error);
    ASSERT_TRUE(second_) << error;
  }
  void TearDown() override { second_.reset(); }

  // Sends the requests a thread each while the table is locked until `waiting` wait on it (20 s at most).
  std::vector<std::string> race(const std::string& table, std::int64_t waiting,
                                const std::vector<std::function<std::string()>>& requests) {
    auto holder = sideConnection();
    storeserver::storage::Transaction hold(*holder, storeserver::storage::TxMode::Read);
    holder->execute("LOCK TABLE " + table + " IN ACCESS EXCLUSIVE MODE");
    std::vector<std::string> replies(requests.size());
    std::atomic<int> answered{0};
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < requests.size(); ++i)
      threads.emplace_back([&, i] {
        replies[i] = requests[i]();
        ++answered;
      });
    auto watcher = sideConnection();
    const std::string blocked =
        "SELECT COUNT(*) FROM pg_locks WHERE NOT granted AND relation = '" + table + "'::regclass";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::int64_t waited = 0;
    while (answered == 0 && (waited = storeserver::storage::integerAt(watcher->query(blocked).at(0), 0)) < waiting &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::yield();
    EXPECT_EQ(waited, waiting) << "the requests did not all wait on " << table;
    EXPECT_EQ(answered.load(), 0) << "a request was answered without reading " << table;
    hold.commit();
    threads.clear();
    return replies;
  }

  std::unique_ptr<storeserver::StoreServer> second_;
};

INSTANTIATE_TEST_SUITE_P(Backends, TwoServers, ::testing::Values(Backend::Postgres), backendName);

TEST_P(TwoServers, TheLastNeededCopyRacedAcrossBothSellsOnce) {
  const std::string tokens[2] = {token_, buyingLogin("clerk", "clerk1")};
  const std::string receipts[2] = {openTicket(tokens[0]), openTicket(tokens[1])};
  const int ports[2] = {port_, second_->port()};  // a token works on either
  std::vector<std::function<std::string()>> buys;
  for (int i : {0, 1}) buys.push_back([&, i] { return sellin(tokens[i], itemText(receipts[i]), kAdd, ports[i]); });
  std::vector<std::string> replies = race("book_purchasers", 2, buys);
  std::ranges::sort(replies);
  EXPECT_EQ(replies, (std::vector<std::string>{"Can only do a negative buy for this purchaser.", "ok"}));
  EXPECT_EQ(lines().size(), 2u);
  EXPECT_EQ(lines().back(), "bought=3");
}

TEST_P(TwoServers, OpeningsAtOneMomentNeverShareAReceipt) {
  const std::string users[2] = {"buyer", "manager"};  // each may buy at its own store
  const std::string tokens[2] = {token_, login(wire::kAppSellin, "manager", "manager1")};
  constexpr std::size_t kOpenings = 16;
  std::vector<std::function<std::string()>> openings;
  for (std::size_t i = 0; i < kOpenings; ++i)
    openings.push_back([&, i, who = i % 2] {
      const wire::Reply r = askWith(wire::kAppSellin, tokens[who],
                                    query(ticket(users[who], "RACE-" + std::to_string(i), std::int64_t(who) + 1)),
                                    i / 2 % 2 ? second_->port() : port_);
      return r.error ? r.text : fieldsOf(wire::toUtf16(r.text), wire::layouts::receipt(), {"receipt"});
    });
  // Both workers of both servers read the same last receipt at once.
  const std::vector<std::string> replies = race("tickets", 4, openings);
  EXPECT_EQ(std::set<std::string>(replies.begin(), replies.end()).size(), kOpenings)
      << "receipts were handed out twice or refused";
  EXPECT_EQ(texts("SELECT receipt FROM tickets").size(), kOpenings);
}

}  // namespace
}  // namespace servertest
