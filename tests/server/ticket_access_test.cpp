// Who reads and writes a ticket: a ticket read back as the server stored it,
// a user's open tickets, a receipt printed again as a copy, and the writes
// refused to a log-in without a buyer's rights at the ticket's store, never
// decided by a name in the request; on SQLite and on PostgreSQL.
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using wire::requests::ticket;
using wire::requests::ticketLines;

constexpr const char* kMidwest = "Midwest Book Wholesale";
const std::string kOnlySellin = "Only Sellin may ask the store server for this; log in from Sellin.";

std::string onlyBuyerOf(int store) {
  return "Only a buyer of store " + std::to_string(store) +
         " may work with its tickets: choose the buying session again with a buyer's user name and password.";
}

const LineArgs kUnlimited{.itemId = "B0000000", .price = "1.00"};  // Ostrand buys it without limit
const LineArgs kReturn{.line = 2, .purchaser = kMidwest, .itemId = "B0000003", .qty = -1, .price = "3.00"};

// The records of a reply cut at their own lengths, as the handheld cuts a ticket's lines.
std::vector<std::u16string> records(const wire::Reply& reply) {
  EXPECT_FALSE(reply.error) << reply.text;
  const std::u16string text = wire::toUtf16(reply.text);
  bool malformed = false;
  std::vector<std::u16string> out;
  for (const wire::RecordSpan& span : wire::cutMixedRecords(text, malformed))
    out.push_back(text.substr(span.offset, span.length));
  EXPECT_FALSE(malformed) << reply.text;
  return out;
}

class TicketAccess : public BackendServerTest {
 protected:
  wire::Reply send(const std::string& token, const std::string& text, int packet = wire::kPacketQuery,
                   int app = wire::kAppSellin) const {
    return askWith(app, token, query(text, packet));
  }
  std::string open(const std::string& token, const std::string& student = "") const {
    const auto r = rows(send(token, ticket("buyer", student, 1)), wire::layouts::receipt(), {"receipt"});
    return r.size() == 1 ? r[0] : "";
  }
  // "" when stored, else the refusal.
  std::string write(const std::string& token, const std::string& receipt, const LineArgs& l = kUnlimited,
                    int packet = wire::kPacketNewItem) const {
    const wire::Reply r = send(token, itemText(receipt, l), packet);
    return r.error ? r.text : "";
  }
  std::u16string purchasersRecord(const std::string& token, const LineArgs& l) const {
    for (const auto& r : records(send(token, wire::requests::purchasers(l.session, l.itemId, 1))))
      if (fieldsOf(r, wire::layouts::slPurchase(), {"purchaser"}) == l.purchaser) return r;
    return u"(not listed)";
  }
  std::string sql(const std::string& select) const {
    return storeserver::storage::textAt(sideConnection()->query("SELECT " + select).at(0), 0);
  }
  // Tickets, lines, audit rows and every purchaser's bought quantity.
  std::string stored() const {
    return sql("(SELECT COUNT(*) FROM tickets) || ' ' || (SELECT COUNT(*) FROM ticket_lines) || ' ' ||"
               " (SELECT COUNT(*) FROM ticket_audit) || ' ' || (SELECT SUM(bought_qty) FROM book_purchasers)");
  }
};

INSTANTIATE_TEST_SUITE_P(Backends, TicketAccess, kBothBackends, backendName);

TEST_P(TicketAccess, StoredLinesComeBackWithTheTermsTheyWereAddedUnder) {
  const std::string buyer = login(wire::kAppSellin, "buyer", "buyer1");
  const std::string receipt = open(buyer);
  const wire::Reply none = send(buyer, ticketLines(receipt, 1));
  EXPECT_EQ(none.error ? none.text : "[" + none.text + "]", "[]") << "a ticket with no lines";

  std::vector<std::u16string> termsWhenAdded;
  for (const LineArgs& l : {LineArgs{}, kReturn}) {
    termsWhenAdded.push_back(purchasersRecord(buyer, l));
    ASSERT_EQ(write(buyer, receipt, l), "");
  }
  ASSERT_EQ(write(buyer, receipt, {.qty = 2, .price = "14.00"}, wire::kPacketChange), "");
  // The purchaser's terms removed since: its name with nothing to buy. An ended ticket is read too.
  sideConnection()->execute("DELETE FROM book_purchasers WHERE item_id = 'B0000003'");
  ASSERT_FALSE(send(buyer, wire::requests::ticketTran(newUpdateId(), receipt), wire::kPacketChange).error);

  const auto got = records(send(buyer, ticketLines(receipt, 1)));
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(fieldsOf(got[0], wire::layouts::ticketLine(), {"line", "item_id", "purchaser", "qty", "price"}),
            "00001|B0000001|Ostrand Company|000002|00014.00");
  EXPECT_EQ(fieldsOf(got[1], wire::layouts::slDetail(), {"item_id", "stolen"}), "B0000001|1");
  EXPECT_EQ(got[2], termsWhenAdded[0]) << "the line's own copies counted in its terms";
  EXPECT_EQ(fieldsOf(got[3], wire::layouts::ticketLine(), {"line", "qty"}), "00002|-00001");
  EXPECT_EQ(fieldsOf(got[5], wire::layouts::slPurchase(), {"purchaser", "buy_qty", "bought_qty", "need_qty"}),
            "Midwest Book Wholesale|0|00000|0");

  const std::string manager = buyingLogin("manager", "manager1");  // buys at store 2, proved buyer at store 1
  const std::string managers = open(manager);
  EXPECT_EQ(send(manager, ticketLines(receipt, 1)).text, "This ticket was opened by another user: start a new ticket.");
  EXPECT_EQ(send(manager, ticketLines(managers, 2)).text, "This ticket belongs to another store: start a new ticket.");
}

TEST_P(TicketAccess, OpenTicketsAreTheUsersOwnWithLinesNewestFirst) {
  const std::string buyer = login(wire::kAppSellin, "buyer", "buyer1");
  const auto ticketWith = [&](const std::string& token, const std::string& student,
                              const std::vector<LineArgs>& lines) {
    const std::string receipt = open(token, student);
    for (const LineArgs& l : lines) EXPECT_EQ(write(token, receipt, l), "") << student;
    return receipt;
  };
  const std::string older = ticketWith(buyer, "S1", {{.itemId = "B0000000", .qty = 2}});
  const std::string newer = ticketWith(buyer, "S2", {kUnlimited, kReturn});
  ticketWith(buyer, "S3", {});
  const std::string ended = ticketWith(buyer, "S4", {kUnlimited});
  ASSERT_FALSE(send(buyer, wire::requests::ticketTran(newUpdateId(), ended), wire::kPacketChange).error);
  ticketWith(buyingLogin("clerk", "clerk1"), "S5", {kUnlimited});

  EXPECT_EQ(rows(send(buyer, wire::requests::openTickets(1)), wire::layouts::openTicket(),
                 {"receipt", "student_id", "lines", "total"}),
            (std::vector<std::string>{newer + "|S2|00002|-00000002.00", older + "|S1|00001|000000025.00"}));
}

TEST_P(TicketAccess, ACopyPrintsAnyTicketOfTheStoreHeadedAsACopy) {
  const std::string buyer = login(wire::kAppSellin, "buyer", "buyer1");
  const std::string receipt = open(buyer);
  ASSERT_EQ(write(buyer, receipt), "");
  const std::string original = send(buyer, wire::requests::receiptPrint(receipt, 1)).text;

  const std::string clerk = buyingLogin("clerk", "clerk1");
  EXPECT_EQ(send(clerk, wire::requests::receiptPrint(receipt, 1, true)).text, "*** COPY ***\r\n" + original);
  EXPECT_EQ(send(clerk, wire::requests::receiptPrint(receipt, 1)).text,
            "This ticket was opened by another user: start a new ticket.");
  EXPECT_EQ(send(clerk, wire::requests::receiptPrint("99999999", 1, true)).text,
            "There is no receipt 99999999 at this store.");
  EXPECT_EQ(send(login(wire::kAppSellin, "manager", "manager1"), wire::requests::receiptPrint(receipt, 2, true)).text,
            "Receipt " + receipt + " is not a receipt of this store.");
}

TEST_P(TicketAccess, OnlyALogInWithABuyersRightsAtTheStoreWritesAndItRecordsThatBuyer) {
  const std::string buyer = login(wire::kAppSellin, "buyer", "buyer1");
  const std::string clerk = login(wire::kAppSellin, "clerk", "clerk1");  // may not buy
  const std::string clerkInStipendo = login(wire::kAppStipendo, "clerk", "clerk1");
  const std::string manager = login(wire::kAppSellin, "manager", "manager1");  // may buy at store 2
  const std::string clerkForBuyer = buyingLogin("clerk", "clerk1");
  const std::string receipt = open(buyer), clerksReceipt = open(clerkForBuyer);
  EXPECT_EQ(sql("buyer || ' ' || store_num FROM tickets WHERE receipt = '" + clerksReceipt + "'"), "buyer 1");

  struct Case {
    const char* what;
    std::string token, text, sentence;
    int packet = wire::kPacketQuery, app = wire::kAppSellin;
  };
  const Case cases[] = {
      {"a clerk's ticket", clerk, ticket("clerk", "", 1), onlyBuyerOf(1)},
      {"a clerk's open tickets", clerk, wire::requests::openTickets(1), onlyBuyerOf(1)},
      {"a Stipendo log-in's ticket", clerkInStipendo, ticket("buyer", "", 1), kOnlySellin, wire::kPacketQuery,
       wire::kAppStipendo},
      {"another store's buyer", manager, ticket("someone-else", "", 1), onlyBuyerOf(1)},
      {"a name other than the checked buyer's", clerkForBuyer, ticket("clerk", "", 1),
       "This handheld names the buyer clerk, but the buying session was chosen for buyer: choose the buying session "
       "again."},
      {"a checked buyer at another store", clerkForBuyer, ticket("buyer", "", 2), onlyBuyerOf(2)},
      {"a buyer asking for another store's sessions", buyer, wire::requests::sessions("buyer", "buyer1", 2),
       "The user buyer may not buy at store 2."},
      {"a buyer at another store", buyer, ticket("buyer", "", 2), onlyBuyerOf(2)},
      {"a buyer in another store's session", buyer, itemText(receipt, {.session = 2001}),
       "This buying session does not belong to this store: choose the session again.", wire::kPacketNewItem},
  };
  const std::string before = stored();
  for (const Case& c : cases) {
    const wire::Reply r = send(c.token, c.text, c.packet, c.app);
    EXPECT_EQ(r.error ? r.text : "accepted", c.sentence) << c.what;
    EXPECT_EQ(stored(), before) << c.what;
  }

  // Rights are read again at each request: a buyer who may no longer buy writes nothing, nor a log-in that checked him.
  ASSERT_EQ(write(clerkForBuyer, clerksReceipt), "");
  sideConnection()->execute("UPDATE users SET can_buy = 0 WHERE user_name = 'buyer'");
  const std::string withLine = stored();
  EXPECT_EQ(write(clerkForBuyer, clerksReceipt, {.itemId = "B0000000", .qty = 2}, wire::kPacketChange), onlyBuyerOf(1));
  EXPECT_EQ(send(buyer, wire::requests::ticketTran(newUpdateId(), receipt), wire::kPacketChange).text, onlyBuyerOf(1));
  EXPECT_EQ(stored(), withLine);
}

}  // namespace
}  // namespace servertest
