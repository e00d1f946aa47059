// Who may write a ticket is the server's to decide: a Sellin log-in that proved
// a buyer's rights at the ticket's store, never a name in the request; on
// SQLite and on PostgreSQL.
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using wire::requests::ticket;

constexpr std::int64_t kSession = 1002;  // store 1
constexpr std::int64_t kOtherStoresSession = 2001;

std::string onlyBuyerOf(int store) {
  return "Only a buyer of store " + std::to_string(store) +
         " may work with its tickets: choose the buying session again with a buyer's user name and password.";
}

class TicketAccess : public BackendServerTest {
 protected:
  wire::Reply send(const std::string& token, const std::string& text, int packet = wire::kPacketQuery,
                   int app = wire::kAppSellin) const {
    return askWith(app, token, query(text, packet));
  }
  std::string open(const std::string& token) const {
    const auto r = rows(send(token, ticket("buyer", "", 1)), wire::layouts::receipt(), {"receipt"});
    return r.size() == 1 ? r[0] : "";
  }
  static std::string line(const std::string& receipt, std::int64_t session = kSession) {
    return wire::requests::ticketItem(newUpdateId(), receipt, 1, "Ostrand Company", session, "B0000000", 1, "1.00");
  }
  // Tickets, their buyers, lines, audit rows and every purchaser's bought quantity.
  std::string stored() const {
    return storeserver::storage::textAt(
        sideConnection()->query(
            "SELECT (SELECT COUNT(*) FROM tickets) || ' ' || (SELECT COUNT(*) FROM ticket_lines) || ' ' ||"
            " (SELECT COUNT(*) FROM ticket_audit) || ' ' || (SELECT SUM(bought_qty) FROM book_purchasers)")[0],
        0);
  }
};

INSTANTIATE_TEST_SUITE_P(Backends, TicketAccess, kBothBackends, backendName);

TEST_P(TicketAccess, EachWriteWithoutABuyersRightsAtItsStoreIsRefusedAndChangesNothing) {
  const std::string buyer = login(wire::kAppSellin, "buyer", "buyer1");
  const std::string clerk = login(wire::kAppSellin, "clerk", "clerk1");
  const std::string clerkInStipendo = login(wire::kAppStipendo, "clerk", "clerk1");
  const std::string manager = login(wire::kAppSellin, "manager", "manager1");  // may buy at store 2
  const std::string clerkForBuyer = buyingLogin("clerk", "clerk1");
  const std::string receipt = open(buyer);
  const std::string clerksReceipt = open(clerkForBuyer);
  ASSERT_FALSE(receipt.empty() || clerksReceipt.empty());

  struct Case {
    const char* what;
    std::string token;
    std::string text;
    int packet = wire::kPacketQuery;
    int app = wire::kAppSellin;
  };
  const std::string onlySellin = "Only Sellin may ask the store server for this; log in from Sellin.";
  const std::vector<std::pair<Case, std::string>> cases = {
      {{"a clerk's ticket", clerk, ticket("clerk", "", 1)}, onlyBuyerOf(1)},
      {{"a clerk naming the buyer", clerk, ticket("buyer", "", 1)}, onlyBuyerOf(1)},
      {{"a clerk's open tickets", clerk, wire::requests::openTickets(1)}, onlyBuyerOf(1)},
      {{"a clerk's receipt copy", clerk, wire::requests::receiptPrint(receipt, 1, true)}, onlyBuyerOf(1)},
      {{"a Stipendo log-in's ticket", clerkInStipendo, ticket("buyer", "", 1), wire::kPacketQuery, wire::kAppStipendo},
       onlySellin},
      {{"a Stipendo log-in's line", clerkInStipendo, line(clerksReceipt), wire::kPacketNewItem, wire::kAppStipendo},
       onlySellin},
      {{"another store's buyer", manager, ticket("someone-else", "", 1)}, onlyBuyerOf(1)},
      {{"a buyer named in the request", manager, ticket("someone-else", "", 2)},
       "This handheld names the buyer someone-else, but the buying session was chosen for manager: choose the buying "
       "session again."},
      {{"a checked buyer at another store", clerkForBuyer, ticket("buyer", "", 2)}, onlyBuyerOf(2)},
      {{"a buyer asking for another store's sessions", buyer, wire::requests::sessions("buyer", "buyer1", 2)},
       "The user buyer may not buy at store 2."},
      {{"a buyer at another store", buyer, ticket("buyer", "", 2)}, onlyBuyerOf(2)},
      {{"a buyer in another store's session", buyer, line(receipt, kOtherStoresSession), wire::kPacketNewItem},
       "This buying session does not belong to this store: choose the session again."},
  };
  const std::string before = stored();
  for (const auto& [c, sentence] : cases) {
    const wire::Reply r = send(c.token, c.text, c.packet, c.app);
    EXPECT_EQ(r.error ? r.text : "accepted", sentence) << c.what;
    EXPECT_EQ(stored(), before) << c.what;
  }

  // Rights are read again at each write: a buyer who may no longer buy writes nothing, nor a log-in that checked him.
  ASSERT_FALSE(send(clerkForBuyer, line(clerksReceipt), wire::kPacketNewItem).error);
  sideConnection()->execute("UPDATE users SET can_buy = 0 WHERE user_name = 'buyer'");
  const std::string withLine = stored();
  EXPECT_EQ(send(clerkForBuyer, line(clerksReceipt), wire::kPacketChange).text, onlyBuyerOf(1));
  EXPECT_EQ(send(buyer, wire::requests::ticketTran(newUpdateId(), receipt), wire::kPacketChange).text,
            onlyBuyerOf(1));
  EXPECT_EQ(stored(), withLine);
}

TEST_P(TicketAccess, ATicketRecordsTheBuyerTheLogInChecked) {
  const std::string clerk = buyingLogin("clerk", "clerk1");
  const std::string receipt = open(clerk);
  ASSERT_FALSE(receipt.empty());
  ASSERT_FALSE(send(clerk, line(receipt), wire::kPacketNewItem).error);
  EXPECT_EQ(storeserver::storage::textAt(
                sideConnection()->query("SELECT t.buyer || ' ' || u.user_name || ' ' || t.store_num FROM tickets t"
                                        " JOIN users u ON u.user_id = t.user_id WHERE t.receipt = ?",
                                        {receipt})[0],
                0),
            "buyer clerk 1");
  const wire::Reply print = send(clerk, wire::requests::receiptPrint(receipt, 1));
  EXPECT_NE(print.text.find("Buyer: buyer\r\n"), std::string::npos) << print.text;
  EXPECT_EQ(send(clerk, ticket("clerk", "", 1)).text,
            "This handheld names the buyer clerk, but the buying session was chosen for buyer: choose the buying "
            "session again.");
}

}  // namespace
}  // namespace servertest
