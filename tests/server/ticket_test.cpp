// Sellin's ticket on the real server: opening, the line updates and what the
// server refuses of them, exactly-once updates, two buyers racing for the last
// copy, the audit trail and the printed receipt; on SQLite and on PostgreSQL.
#include <algorithm>
#include <atomic>
#include <thread>

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
  EXPECT_NE(open(buyingLogin("clerk", "clerk1")), next) << "two users share a ticket";
}

TEST_P(Ticket, RefusedUpdatesLeaveTheDatabaseUnchanged) {
  const std::string receipt = open(token_);
  ASSERT_FALSE(item(receipt, wire::kPacketNewItem, {.line = 1, .qty = -1, .price = "3.00"}).error);
  const std::string ended = open(login(wire::kAppSellin, "buyer", "buyer1"), "S-ENDED");
  ASSERT_FALSE(tran(ended, wire::kPacketChange).error);
  const std::string others = open(buyingLogin("clerk", "clerk1"));

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
       "This purchaser needs only 2 more copies of this book."},
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

TEST_P(Ticket, AnUpdateSentTwiceIsStoredOnce) {
  const std::string receipt = open(token_);
  const std::string text = itemText(receipt);
  EXPECT_FALSE(send(token_, text, wire::kPacketNewItem).error);
  const wire::Reply again = send(token_, text, wire::kPacketNewItem);
  EXPECT_FALSE(again.error) << again.text;
  EXPECT_EQ(stored(), (std::vector<std::string>{"1/1:1@1250", "bought=3"}));
  EXPECT_TRUE(send(buyingLogin("clerk", "clerk1"), text, wire::kPacketNewItem).error)
      << "another user's repeat was answered";

  // Repeats built afresh: a delete of a deleted line and an End of an ended ticket succeed.
  EXPECT_FALSE(item(receipt, wire::kPacketDelete).error);
  EXPECT_FALSE(item(receipt, wire::kPacketDelete).error);
  EXPECT_FALSE(tran(receipt, wire::kPacketChange).error);
  EXPECT_FALSE(tran(receipt, wire::kPacketChange).error);
  EXPECT_EQ(audit(), (std::vector<std::string>{"0 open", "1 add", "1 delete", "0 end"}));
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

  std::unique_ptr<storeserver::StoreServer> second_;
};

INSTANTIATE_TEST_SUITE_P(Backends, TwoServers, ::testing::Values(Backend::Postgres), backendName);

TEST_P(TwoServers, TheLastNeededCopyRacedAcrossBothSellsOnce) {
  const std::string tokens[2] = {token_, buyingLogin("clerk", "clerk1")};
  const std::string receipts[2] = {open(tokens[0]), open(tokens[1])};
  const int ports[2] = {port_, second_->port()};  // a token works on either

  // The purchasers' table held locked until both updates wait inside the
  // database, one on each server, then let go: they truly race.
  auto holder = sideConnection();
  storeserver::storage::Transaction hold(*holder, storeserver::storage::TxMode::Read);
  holder->execute("LOCK TABLE book_purchasers IN ACCESS EXCLUSIVE MODE");
  wire::Reply replies[2];
  std::atomic<int> answered{0};
  std::thread buyers[2];
  for (int i : {0, 1})
    buyers[i] = std::thread([&, i] {
      replies[i] = send(tokens[i], itemText(receipts[i]), wire::kPacketNewItem, ports[i]);
      ++answered;
    });
  auto watcher = sideConnection();
  const std::string waiting =
      "SELECT COUNT(*) FROM pg_locks WHERE NOT granted AND database = (SELECT oid FROM pg_database"
      " WHERE datname = current_database())";
  while (answered == 0 && storeserver::storage::integerAt(watcher->query(waiting).at(0), 0) < 2)
    std::this_thread::yield();
  EXPECT_EQ(answered.load(), 0) << "an update was answered without reading the purchaser's need";
  hold.commit();
  for (std::thread& buyer : buyers) buyer.join();

  EXPECT_NE(replies[0].error, replies[1].error) << replies[0].text << " / " << replies[1].text;
  const wire::Reply& refused = replies[0].error ? replies[0] : replies[1];
  EXPECT_EQ(refused.text, "This purchaser needs no more copies of this book; only a return can be entered.");
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

}  // namespace
}  // namespace servertest
