// Sellin's ticket on the real server: opening, the line updates and what the
// server refuses of them, exactly-once updates, two buyers racing for the last
// copy, the audit trail and the printed receipt; on SQLite and on PostgreSQL.
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

using wire::requests::ticketItem;
using wire::requests::ticketTran;

constexpr const char* kBook = "B0000001";
constexpr const char* kPurchaser = "Ostrand Company";
constexpr std::int64_t kSession = 1002;         // no student ID, transaction maximum 6
constexpr std::int64_t kStudentSession = 1001;  // needs a student ID

struct LineArgs {
  std::int64_t line = 1;
  std::string purchaser = kPurchaser;
  std::int64_t session = kSession;
  std::string itemId = kBook;
  std::int64_t qty = 1;
  std::string price = "12.50";
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

  wire::Reply send(const std::string& token, const std::string& text, int packet, int port = 0) const {
    return askWith(wire::kAppSellin, token, query(text, packet), port);
  }
  std::string open(const std::string& token, const std::string& student = "") const {
    const auto r = rows(send(token, wire::requests::ticket("buyer", student, 1), wire::kPacketQuery),
                        wire::layouts::receipt(), {"receipt"});
    return r.size() == 1 ? r[0] : "";
  }
  static std::string itemText(const std::string& receipt, const LineArgs& a = {}) {
    return ticketItem(newUpdateId(), receipt, a.line, a.purchaser, a.session, a.itemId, a.qty, a.price);
  }
  wire::Reply item(const std::string& receipt, int packet, const LineArgs& a = {}) const {
    return send(token_, itemText(receipt, a), packet);
  }
  wire::Reply tran(const std::string& receipt, int packet) const {
    return send(token_, ticketTran(newUpdateId(), receipt), packet);
  }

  // The single text column of each row.
  std::vector<std::string> texts(const std::string& sql) const {
    std::vector<std::string> out;
    for (const auto& r : sideConnection()->query(sql)) out.push_back(storeserver::storage::textAt(r, 0));
    return out;
  }
  // The ticket lines (ticket/line:qty@cents), then the purchaser's bought quantity.
  std::vector<std::string> stored() const {
    return texts("SELECT ticket_id || '/' || line || ':' || qty || '@' || price_cents FROM ticket_lines UNION ALL"
                 " SELECT 'bought=' || bought_qty FROM book_purchasers WHERE session_id = 1002"
                 " AND item_id = 'B0000001' AND purchaser = 'Ostrand Company' ORDER BY 1");
  }
  std::vector<std::string> audit() const {
    return texts("SELECT line || ' ' || action FROM ticket_audit ORDER BY audit_id");
  }

  std::string token_;
};

INSTANTIATE_TEST_SUITE_P(Backends, Ticket, kBothBackends, backendName);

TEST_P(Ticket, OpenHandsOutOneReceiptUntilTheTicketHoldsLines) {
  const std::string first = open(token_);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(open(token_), first) << "a retried open piled up a receipt";
  const std::string student = open(token_, "S1001");
  EXPECT_NE(student, first) << "another student shares a ticket";
  EXPECT_EQ(open(token_, "S1001"), student);

  ASSERT_FALSE(item(first, wire::kPacketNewItem).error);
  const std::string next = open(token_);
  EXPECT_NE(next, first) << "a ticket with lines was handed out again";
  EXPECT_NE(open(login(wire::kAppSellin, "manager", "manager1")), next) << "two users share a ticket";
}

TEST_P(Ticket, RefusedUpdatesLeaveTheDatabaseUnchanged) {
  const std::string receipt = open(token_);
  ASSERT_FALSE(item(receipt, wire::kPacketNewItem, {.line = 1, .qty = -1, .price = "3.00"}).error);
  const std::string ended = open(login(wire::kAppSellin, "buyer", "buyer1"), "S-ENDED");
  ASSERT_FALSE(tran(ended, wire::kPacketChange).error);
  const std::string others = open(login(wire::kAppSellin, "manager", "manager1"));

  struct Case {
    const char* what;
    std::string receipt;
    int packet;
    LineArgs line;
    std::string sentence;
  };
  const std::vector<Case> cases = {
      {"quantity 0", receipt, wire::kPacketNewItem, {.line = 2, .qty = 0}, "Sellin quantity cannot be 0."},
      {"above the listed price", receipt, wire::kPacketNewItem, {.line = 2, .price = "15.01"},
       "Temporary buy price must be less than the listed buy price."},
      {"three decimals", receipt, wire::kPacketNewItem, {.line = 2, .price = "12.505"},
       "The price \"12.505\" is not a dollar amount: type it like 12.50."},
      {"more than the need", receipt, wire::kPacketNewItem, {.line = 2, .qty = 3},
       "Sellin quantity cannot exceed the need."},
      {"return beyond what was bought", receipt, wire::kPacketNewItem, {.line = 2, .qty = -2},
       "Cannot do negative sellin for more than the bought quantity."},
      {"change into a return beyond it", receipt, wire::kPacketChange, {.line = 1, .qty = -3, .price = "3.00"},
       "Cannot do negative sellin for more than the bought quantity."},
      {"above the transaction maximum", receipt, wire::kPacketNewItem,
       {.line = 2, .purchaser = "Midwest Book Wholesale", .itemId = "B0000003", .qty = 7},
       "Sellin quantity exceeds the transaction maximum of 6."},
      {"a purchaser who does not buy it", receipt, wire::kPacketNewItem, {.line = 2, .purchaser = "Nobody"},
       "This purchaser does not buy this book in this buying session: choose the purchaser again."},
      {"a session needing a student", receipt, wire::kPacketNewItem, {.line = 2, .session = kStudentSession},
       "This buying session needs a student ID: end this ticket and start one with the student's ID."},
      {"a line already there", receipt, wire::kPacketNewItem, {.line = 1},
       "Line 1 is already on this ticket: start the ticket again."},
      {"a change of another book", receipt, wire::kPacketChange, {.line = 1, .itemId = "B0000002"},
       "Line 1 holds another book or purchaser on the store server: start the ticket again."},
      {"an ended ticket", ended, wire::kPacketNewItem, {}, "This ticket has already ended: start a new ticket."},
      {"another user's receipt", others, wire::kPacketNewItem, {}, "This ticket was opened by another user: start a new ticket."},
      {"no such receipt", "99999999", wire::kPacketNewItem, {},
       "The store server has no ticket with this receipt number: start a new ticket."},
  };
  const std::vector<std::string> before = stored();
  const std::size_t auditBefore = audit().size();
  for (const Case& c : cases) {
    const wire::Reply r = item(c.receipt, c.packet, c.line);
    EXPECT_TRUE(r.error) << c.what << " was accepted";
    EXPECT_EQ(r.text, c.sentence) << c.what;
    EXPECT_EQ(stored(), before) << c.what << " changed the database";
  }
  EXPECT_EQ(audit().size(), auditBefore) << "a refused update left an audit row";
}

TEST_P(Ticket, AnUpdateIdentityNamesOneChange) {
  const std::string receipt = open(token_);
  const std::string id = newUpdateId();
  const std::string text = ticketItem(id, receipt, 4, kPurchaser, kSession, kBook, 1, "12.50");
  EXPECT_FALSE(send(token_, text, wire::kPacketNewItem).error);
  const wire::Reply again = send(token_, text, wire::kPacketNewItem);
  EXPECT_FALSE(again.error) << again.text;
  EXPECT_EQ(stored(), (std::vector<std::string>{"1/4:1@1250", "bought=3"}));

  const std::string otherChange = "This change was not saved: the store server already holds a different change"
                                  " under its number. Make the change again.";
  const std::string unreadable(storeserver::kUnreadableRequest);
  std::string accented;  // 36 bytes, 18 characters
  for (int i = 0; i < 18; ++i) accented += "\xc3\xa9";
  struct Case {
    const char* what;
    std::string token, text;
    int packet;
    std::string sentence;
  };
  const std::vector<Case> cases = {
      {"a new line 5 under the identity of line 4", token_,
       ticketItem(id, receipt, 5, kPurchaser, kSession, kBook, -1, "12.50"), wire::kPacketNewItem, otherChange},
      {"the same text as a change", token_, text, wire::kPacketChange, otherChange},
      {"a void under an item's identity", token_, ticketTran(id, receipt), wire::kPacketDelete, otherChange},
      {"another user's repeat", login(wire::kAppSellin, "manager", "manager1"), text, wire::kPacketNewItem,
       otherChange},
      {"an identity of 36 bytes in 18 letters", token_,
       ticketItem(accented, receipt, 5, kPurchaser, kSession, kBook, -1, "12.50"), wire::kPacketNewItem, unreadable},
      {"a UUID in capitals", token_,
       ticketItem("0000000A-0000-4000-8000-00000000000B", receipt, 5, kPurchaser, kSession, kBook, -1, "12.50"),
       wire::kPacketNewItem, unreadable},
  };
  const std::size_t identities = texts("SELECT update_id FROM ticket_updates").size();
  for (const Case& c : cases) {
    const wire::Reply r = send(c.token, c.text, c.packet);
    EXPECT_TRUE(r.error) << c.what << " was accepted";
    EXPECT_EQ(r.text, c.sentence) << c.what;
    EXPECT_EQ(stored(), (std::vector<std::string>{"1/4:1@1250", "bought=3"})) << c.what;
    EXPECT_EQ(texts("SELECT update_id FROM ticket_updates").size(), identities) << c.what;
  }

  // Repeats built afresh: a delete of a deleted line and an End of an ended ticket succeed.
  EXPECT_FALSE(item(receipt, wire::kPacketDelete, {.line = 4}).error);
  EXPECT_FALSE(item(receipt, wire::kPacketDelete, {.line = 4}).error);
  EXPECT_FALSE(tran(receipt, wire::kPacketChange).error);
  EXPECT_FALSE(tran(receipt, wire::kPacketChange).error);
  EXPECT_EQ(audit(), (std::vector<std::string>{"0 open", "4 add", "4 delete", "0 end"}));
}

// Every way lines move (add, change, delete, void) keeps each purchaser's
// bought quantity between 0 and what it buys, and the ticket within the
// transaction maximum, whatever the order; a refused move changes nothing.
TEST_P(Ticket, NoSequenceOfMovesBreaksTheNeedTheMaximumOrZero) {
  const auto ostrand = [](std::int64_t line, std::int64_t qty) { return LineArgs{.line = line, .qty = qty}; };
  const auto midwest = [](std::int64_t line, std::int64_t qty) {  // buys B0000003 without limit
    return LineArgs{.line = line, .purchaser = "Midwest Book Wholesale", .itemId = "B0000003", .qty = qty};
  };
  constexpr int kAdd = wire::kPacketNewItem, kChange = wire::kPacketChange, kDelete = wire::kPacketDelete, kVoid = -1;
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
      {"a return deleted past the need", 3,
       {{kAdd, ostrand(1, -1)}, {kAdd, ostrand(2, 1)}, {kDelete, ostrand(1, -1)}},
       "Deleting this line would give Ostrand Company" + more + "lower another line of this book first.", {"3", "3"}},
      {"a return deleted past the maximum", 2,
       {{kAdd, midwest(1, 6)}, {kAdd, midwest(2, -1)}, {kAdd, midwest(3, 1)}, {kDelete, midwest(2, -1)}},
       "Deleting this line would put 7 copies of this book on the ticket, above the transaction maximum of 6: "
       "lower another line of this book first.",
       {"2", "9"}},
      {"a return lowered past the need", 3,
       {{kAdd, ostrand(1, -2)}, {kAdd, ostrand(2, 2)}, {kChange, ostrand(1, -1)}},
       "This change would give Ostrand Company" + more + "lower another line of this book first.", {"3", "3"}},
      {"a line lowered after an import lowered the need", 1, {{kAdd, ostrand(1, 2)}, {kChange, ostrand(1, 1)}}, "ok",
       {"2", "3"}, "buy_qty = 1"},
      {"a void of +1 then -2", 1, {{kAdd, ostrand(1, 1)}, {kAdd, ostrand(2, -2)}, {kVoid, {}}}, "ok", {"1", "3"}},
      {"a void whose return was bought again since", 3, {{kAdd, midwest(1, 1)}, {kAdd, ostrand(2, -1)}, {kVoid, {}}},
       "Voiding this ticket would give Ostrand Company" + more + "end the ticket instead, or tell the back office.",
       {"3", "4"}, "bought_qty = 3"},
  };
  const auto setOstrand = [&](const std::string& terms) {
    sideConnection()->execute("UPDATE book_purchasers SET " + terms + " WHERE item_id = 'B0000001'");
  };
  for (const Case& c : cases) {
    setOstrand("buy_qty = 3, bought_qty = " + std::to_string(c.bought));
    sideConnection()->execute("UPDATE book_purchasers SET bought_qty = 3 WHERE item_id = 'B0000003'");
    const std::string receipt = open(token_);
    std::vector<std::string> before;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const bool last = i + 1 == c.steps.size();
      if (last && !c.beforeLast.empty()) setOstrand(c.beforeLast);
      if (last) before = stored();
      const auto& [packet, line] = c.steps[i];
      const wire::Reply r = packet == kVoid ? tran(receipt, kDelete) : item(receipt, packet, line);
      EXPECT_EQ(r.error ? r.text : "ok", last ? c.last : "ok") << c.what << ", step " << i + 1;
    }
    if (c.last != "ok") {
      EXPECT_EQ(stored(), before) << c.what << ": a refused move changed the ticket";
    }
    EXPECT_EQ(texts("SELECT '' || bought_qty FROM book_purchasers WHERE session_id = 1002 AND"
                    " item_id IN ('B0000001', 'B0000003') ORDER BY item_id"),
              c.boughtAfter)
        << c.what;
    ASSERT_FALSE(tran(receipt, wire::kPacketChange).error);
  }
}

TEST_P(Ticket, LinesChangePrintAndAreVoidedWithTheirBoughtQuantity) {
  sideConnection()->execute("UPDATE books SET title = ? WHERE item_id = ?",
                            {std::string("A Title Long Enough To Need Two Lines On A Receipt Printer"), std::string(kBook)});
  const std::string receipt = open(token_);
  ASSERT_FALSE(item(receipt, wire::kPacketNewItem, {.line = 1}).error);
  ASSERT_FALSE(item(receipt, wire::kPacketNewItem, {.line = 2, .qty = -2, .price = "3.00"}).error);
  EXPECT_EQ(stored(), (std::vector<std::string>{"1/1:1@1250", "1/2:-2@300", "bought=1"}));
  // Changed: the line's own earlier quantity no longer counts against the need.
  ASSERT_FALSE(item(receipt, wire::kPacketChange, {.line = 1, .qty = 3, .price = "14.00"}).error);
  EXPECT_EQ(stored(), (std::vector<std::string>{"1/1:3@1400", "1/2:-2@300", "bought=3"}));

  const wire::Reply print = send(token_, wire::requests::receiptPrint(receipt, 1), wire::kPacketQuery);
  ASSERT_FALSE(print.error) << print.text;
  const std::vector<std::string> lines = printLines(print.text);
  const std::string isbn = texts("SELECT isbn13 FROM books WHERE item_id = 'B0000001'").at(0);
  for (const std::string& expected : {"Receipt " + receipt, std::string("Buyer: buyer"), "ISBN " + isbn,
                                      std::string("  3 x $14.00"), std::string("  -2 x $3.00  ")})
    EXPECT_NE(print.text.find(expected), std::string::npos) << expected << " missing from\n" << print.text;
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Total" + std::string(42 - 5 - 6, ' ') + "$36.00");

  ASSERT_FALSE(tran(receipt, wire::kPacketDelete).error);
  EXPECT_EQ(stored(), std::vector<std::string>{"bought=2"});
  EXPECT_EQ(audit(), (std::vector<std::string>{"0 open", "1 add", "2 add", "1 change", "1 void", "2 void"}));
  EXPECT_EQ(texts("SELECT old_values || ' -> ' || new_values FROM ticket_audit WHERE action = 'change'"),
            std::vector<std::string>{"session=1002 item=B0000001 purchaser=Ostrand Company qty=1 price=12.50 -> "
                                     "session=1002 item=B0000001 purchaser=Ostrand Company qty=3 price=14.00"});
}

// Two servers on one PostgreSQL database, as a chain runs them, each with two
// workers, handhelds on either.
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

  // Sends the requests at once, a thread each, while the table is held
  // locked until `waiting` of them wait on it inside the database (20 s at
  // most), then lets them go together: they truly race.
  std::vector<wire::Reply> race(const std::string& table, std::int64_t waiting,
                                const std::vector<std::function<wire::Reply()>>& requests) {
    auto holder = sideConnection();
    storeserver::storage::Transaction hold(*holder, storeserver::storage::TxMode::Read);
    holder->execute("LOCK TABLE " + table + " IN ACCESS EXCLUSIVE MODE");
    std::vector<wire::Reply> replies(requests.size());
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
  const std::string tokens[2] = {token_, login(wire::kAppSellin, "manager", "manager1")};
  const std::string receipts[2] = {open(tokens[0]), open(tokens[1])};
  const int ports[2] = {port_, second_->port()};  // a token works on either
  std::vector<std::function<wire::Reply()>> buys;
  for (int i : {0, 1})
    buys.push_back([&, i] { return send(tokens[i], itemText(receipts[i]), wire::kPacketNewItem, ports[i]); });
  const std::vector<wire::Reply> replies = race("book_purchasers", 2, buys);

  ASSERT_EQ(replies.size(), 2u);
  EXPECT_NE(replies[0].error, replies[1].error) << replies[0].text << " / " << replies[1].text;
  const wire::Reply& refused = replies[0].error ? replies[0] : replies[1];
  EXPECT_EQ(refused.text, "Can only do a negative buy for this purchaser.");
  EXPECT_EQ(stored().size(), 2u);
  EXPECT_EQ(stored().back(), "bought=3");
  // Both read the purchaser's need before either wrote: the loser was undone
  // by the database and judged again, rather than waiting its turn.
  const auto retried = [](const std::string& line) { return line.find("update undone by a conflict") != std::string::npos; };
  EXPECT_TRUE(std::ranges::any_of(logLines(), retried));
}

TEST_P(TwoServers, AnUpdateRepeatedOnTheOtherServerIsStoredOnce) {
  const std::string update = itemText(open(token_));
  const wire::Reply first = send(token_, update, wire::kPacketNewItem);
  const wire::Reply repeat = send(token_, update, wire::kPacketNewItem, second_->port());
  ASSERT_FALSE(first.error) << first.text;
  EXPECT_EQ(repeat.error, first.error);
  EXPECT_EQ(repeat.text, first.text);
  EXPECT_EQ(stored(), (std::vector<std::string>{"1/1:1@1250", "bought=3"}));
  EXPECT_EQ(audit(), (std::vector<std::string>{"0 open", "1 add"}));
}

TEST_P(TwoServers, OpeningsAtOneMomentNeverShareAReceipt) {
  const std::string users[2] = {"buyer", "manager"};  // each may buy at its own store
  const std::string tokens[2] = {token_, login(wire::kAppSellin, "manager", "manager1")};
  constexpr std::size_t kOpenings = 16;
  std::vector<std::function<wire::Reply()>> openings;
  for (std::size_t i = 0; i < kOpenings; ++i)
    openings.push_back([&, i, who = i % 2] {
      return send(tokens[who], wire::requests::ticket(users[who], "RACE-" + std::to_string(i), std::int64_t(who) + 1),
                  wire::kPacketQuery, i / 2 % 2 ? second_->port() : port_);
    });
  // Both workers of both servers read the same last receipt at once.
  std::set<std::string> receipts;
  for (const wire::Reply& r : race("tickets", 4, openings))
    for (const std::string& receipt : rows(r, wire::layouts::receipt(), {"receipt"})) receipts.insert(receipt);
  EXPECT_EQ(receipts.size(), kOpenings) << "receipts were handed out twice or refused";
  EXPECT_EQ(texts("SELECT receipt FROM tickets").size(), kOpenings);
}

}  // namespace
}  // namespace servertest
