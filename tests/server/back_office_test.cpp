// The back office's buying sessions, tickets and receipts, on tickets and
// purchases the real server stored from handhelds' exchanges, on SQLite and
// PostgreSQL: pages of long lists, a day's cash per buyer, closing a ticket a
// buyer left open, receipts sent to a printer over TCP, and what a manager of
// another store sees of them.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <thread>

#include "server/admin/buying_report.h"
#include "server/admin/receipt_printers.h"
#include "server/admin/ticket_office.h"
#include "server/queries/tickets.h"
#include "admin_fixture.h"

namespace servertest {
namespace {

using namespace storeserver::admin;
using storeserver::storage::textAt;

const std::string kTicketCsvHeader =
    "Receipt,Student,Buyer,Opened,State,Voided at,Voided by,Void reason,Session,Line,ISBN,Title,Purchaser,Quantity,"
    "Price,Line total\r\n";
const LineArgs kUnlimited{.itemId = "B0000000", .qty = 2, .price = "1.00"};  // Ostrand buys it without limit

class BackOffice : public BuyerAdminTest {
 protected:
  void SetUp() override {
    BuyerAdminTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    db_ = sideConnection();
  }
  // The day of the test's tickets, as the server dated them.
  std::string today() const { return texts("SELECT MIN(opened_on) FROM tickets").at(0); }
  // Receipts of a page, its flags after them: "<" rows before it, ">" rows after it.
  std::vector<std::string> receipts(const PageAsk& ask) const {
    TicketSearch day;
    day.from = day.to = today();
    const KeyedPage page = fetchPage(*db_, ticketsFound(1, day), ask);
    std::vector<std::string> out;
    for (const auto& r : page.rows) out.push_back(ticketRowOf(r).receipt);
    out.push_back(std::string(page.earlier ? "<" : "") + (page.later ? ">" : ""));
    return out;
  }
  // Tickets, lines, audit rows and bought copies: all a refused change must leave as it was.
  std::string stored() const {
    return texts("SELECT (SELECT COUNT(*) FROM tickets WHERE is_open = 1) || ' ' || (SELECT COUNT(*) FROM ticket_lines)"
                 " || ' ' || (SELECT COUNT(*) FROM ticket_audit) || ' ' || SUM(bought_qty) FROM book_purchasers")
        .at(0);
  }
  storeserver::User manager() const { return *storeserver::findUser(*db_, "manager"); }

  std::unique_ptr<storeserver::storage::Connection> db_;
};
INSTANTIATE_TEST_SUITE_P(Backends, BackOffice, kBothBackends, backendName);

TEST_P(BackOffice, ADaysTicketsPageByKeyAndItsCashIsCountedPerBuyer) {
  const std::string ended = ticket({{}, kUnlimited}, kEnd);
  const std::string open = ticket({kUnlimited}, kLeftOpen);
  const std::string empty = ticket({}, kLeftOpen);

  EXPECT_EQ(receipts({PageFrom::First, {}, 2}), (std::vector<std::string>{ended, open, ">"}));
  const storeserver::storage::Row keyOfOpen{findTicket(*db_, open)->id};
  EXPECT_EQ(receipts({PageFrom::After, keyOfOpen, 2}), (std::vector<std::string>{empty, "<"}));
  EXPECT_EQ(receipts({PageFrom::Last, {}, 2}), (std::vector<std::string>{open, empty, "<"}));
  EXPECT_EQ(receipts({PageFrom::Before, keyOfOpen, 2}), (std::vector<std::string>{ended, ">"}));

  const auto row = *findTicket(*db_, ended);
  EXPECT_EQ(std::tuple(row.lines, row.totalCents, row.open, row.buyer), std::tuple(2, 1450, false, "buyer"));
  const auto cash = cashPerBuyer(*db_, 1, today(), today());
  ASSERT_EQ(cash.size(), 1u);
  EXPECT_EQ(std::tuple(cash[0].endedTickets, cash[0].paidCents, cash[0].openTickets, cash[0].openCents),
            std::tuple(1, 1450, 1, 200));
  EXPECT_TRUE(cashPerBuyer(*db_, 2, today(), today()).empty());

  std::vector<std::string> trail;
  for (const auto& r : fetchPage(*db_, auditOf(ended), {}).rows) trail.push_back(auditRowOf(r).action);
  EXPECT_EQ(trail, (std::vector<std::string>{"open", "add", "add", "end"}));
  EXPECT_EQ(linesOf(*db_, row.id).size(), 2u);
}

TEST_P(BackOffice, ALeftTicketIsEndedOrVoidedUnderTheHandheldsRulesInTheManagersName) {
  const std::string left = ticket({{}}, kLeftOpen);
  const std::string before = bought();
  const std::string ended = ticket({kUnlimited}, kEnd);

  AdminBrowser office = signedIn("office", "office1");
  AdminBrowser north = signedIn("manager", "manager1");
  auto close = [&](AdminBrowser& b, const std::string& store, const std::string& receipt, const std::string& closing,
                   const std::string& reason) {
    return answerSentence(
        b.post("/admin/tickets", {{"store", store}, {"receipt", receipt}, {"closing", closing}, {"reason", reason}}));
  };
  const std::string unchanged = stored();
  const struct {
    AdminBrowser& browser;
    std::string store, receipt, closing, reason, sentence;
  } refusals[] = {
      {office, "1", left, "void", " ", "Give the reason, for the ticket's audit trail."},
      {office, "1", left, "void", std::string(201, 'x'), "The reason has at most 200 characters."},
      {office, "1", left, "void", "went \u202Ehome", "The reason holds the invisible direction mark U+202E."},
      {office, "1", left, "keep", "left behind", "Choose End or Void for the ticket."},
      {office, "1", "99999999", "void", "left behind", "Store 1 has no ticket 99999999."},
      {office, "1", ended, "void", "left behind", "Ticket " + ended + " has already ended."},
      {north, "2", left, "void", "left behind", "Store 2 has no ticket " + left + "."},
      {north, "1", left, "void", "left behind", "You may not see store 1 in the back office."},
  };
  for (const auto& r : refusals)
    EXPECT_EQ(close(r.browser, r.store, r.receipt, r.closing, r.reason), r.sentence) << r.receipt;
  EXPECT_EQ(stored(), unchanged);

  EXPECT_EQ(close(office, "1", left, "void", "buyer went home"),
            "Ticket " + left + " voided: its lines were taken back.");
  EXPECT_EQ(std::stoi(bought()), std::stoi(before) - 1) << "the void takes back what its line bought";
  const auto voided = *findTicket(*db_, left);
  EXPECT_EQ(std::tuple(voided.open, voided.lines, voided.totalCents), std::tuple(false, 0, 0));
  EXPECT_EQ(texts("SELECT user_name || ' ' || line || ' ' || action || ' ' || new_values FROM ticket_audit"
                  " WHERE receipt = '" +
                  left + "' AND user_name = 'office' ORDER BY audit_id"),
            (std::vector<std::string>{"office 1 void ", "office 0 void ended in the back office: buyer went home"}));
  EXPECT_EQ(texts("SELECT user_name || ' ' || action || ' ' || details FROM admin_audit"),
            std::vector<std::string>{"office void ticket " + left + ": buyer went home"});

  const std::string kept = ticket({{}}, kLeftOpen);
  EXPECT_EQ(close(office, "1", kept, "end", "forgot End"), "Ticket " + kept + " ended.");
  EXPECT_EQ(bought(), before) << "an ended ticket's copies stay bought";
  EXPECT_EQ(findTicket(*db_, kept)->lines, 1);
}

// Tickets are found by each key alone and by several at once, over a range of days; a search that cannot run says
// why. A voided ticket's lines were taken back, so no ISBN finds it.
TEST_P(BackOffice, TicketsAreFoundByEachKeyAndBySeveralTogether) {
  const std::string ended = ticket({{}}, kEnd, "S1001");
  const std::string open = ticket({kUnlimited}, kLeftOpen, "S2002");
  const std::string voided = ticket({{}}, kVoid, "S1001");
  const std::string day = today(), days = "&from=" + day + "&to=" + day;
  const std::string isbn = isbnOf("B0000001");

  AdminBrowser office = signedIn("office", "office1");
  const auto found = [&](const std::string& search) {
    std::vector<std::string> receipts;
    for (const std::string& row : tableRows(office.get("/admin/tickets?store=1" + search).body, "tickets"))
      if (!row.starts_with("(no table")) receipts.push_back(row.substr(0, row.find('|')));
    return receipts;
  };
  using Receipts = std::vector<std::string>;
  const std::vector<std::pair<std::string, Receipts>> searches = {
      {days, {ended, open, voided}},
      {"&from=2000-01-01&to=" + day, {ended, open, voided}},
      {"&from=2000-01-01&to=2000-01-02", {}},
      {days + "&student=S1001", {ended, voided}},
      {days + "&isbn=" + isbn.substr(0, 3) + "-" + isbn.substr(3), {ended}},
      {days + "&state=open", {open}},
      {days + "&state=ended", {ended}},
      {days + "&state=voided", {voided}},
      {days + "&buyer=buyer&student=S1001&state=ended", {ended}},
      {days + "&buyer=clerk", {}},
  };
  for (const auto& [search, receipts] : searches) EXPECT_EQ(found(search), receipts) << search;

  std::string wrongCheck = isbn;
  wrongCheck.back() = wrongCheck.back() == '9' ? '0' : char(wrongCheck.back() + 1);
  for (const auto& [search, sentence] : std::vector<std::pair<std::string, std::string>>{
           {"&isbn=12345", "Type the book's ISBN, 13 or 10 digits, such as 978-0-13-468599-1."},
           {"&isbn=" + wrongCheck,
            "The ISBN " + wrongCheck + " has a wrong check digit: check the code or type it again."},
           {"&state=lost", "Choose open, ended, voided or every state."},
           {"&from=" + day + "&to=2000-01-01", "The last day, 2000-01-01, comes before the first, " + day + "."}})
    EXPECT_EQ(pageSentence(office.get("/admin/tickets?store=1" + search).body), sentence) << search;
}

// A ticket voided on a handheld and one voided here say so, with when, by whom and why, on the day's list, the
// ticket's page, the cash per buyer (paying nothing) and the receipt copy, here and on a handheld's Reprint.
TEST_P(BackOffice, AVoidedTicketReadsVoidedWithItsReasonWhereverItIsShown) {
  const std::string onHandheld = ticket({{}}, kVoid);
  const std::string inOffice = ticket({kUnlimited}, kLeftOpen);
  const std::string ended = ticket({kUnlimited}, kEnd);
  AdminBrowser office = signedIn("office", "office1");
  const Answer voided = office.post(
      "/admin/tickets", {{"store", "1"}, {"receipt", inOffice}, {"closing", "void"}, {"reason", "wrong student"}});
  ASSERT_EQ(pageSentence(voided.body, "notice"), "Ticket " + inOffice + " voided: its lines were taken back.");
  db_->execute("UPDATE tickets SET voided_at = 1777887060000 WHERE is_voided = 1");  // 2026-05-04 09:31 UTC
  const std::map<std::string, std::string> words = {
      {onHandheld, "voided 2026-05-04 09:31 UTC by buyer: deleted on the handheld"},
      {inOffice, "voided 2026-05-04 09:31 UTC by office: wrong student"}};

  const std::string day = office.get("/admin/tickets?store=1&day=" + today()).body;
  EXPECT_EQ(tableRows(day, "tickets"), (std::vector<std::string>{onHandheld + "|buyer||0|$0.00|" + words.at(onHandheld),
                                                                 inOffice + "|buyer||0|$0.00|" + words.at(inOffice),
                                                                 ended + "|buyer||1|$2.00|ended"}));
  EXPECT_EQ(tableRows(day, "cash"), std::vector<std::string>{"buyer|1|$2.00|0|$0.00|2"});

  for (const auto& [receipt, said] : words) {
    const std::string page = office.get("/admin/tickets?store=1&receipt=" + receipt).body;
    EXPECT_NE(page.find(" by buyer; " + said + ".\n"), std::string::npos) << page;
    EXPECT_EQ(tableRows(page, "lines").at(0), "Its books were taken back when it was voided.");
    EXPECT_EQ(page.find("Void the ticket"), std::string::npos) << "a voided ticket offered to be closed again";

    const wire::Reply reprint =
        askWith(wire::kAppSellin, token_, query(wire::requests::receiptPrint(receipt, 1, true)));
    const std::vector<std::string> printed = printLines(reprint.text);
    ASSERT_EQ(printed.size(), 12u) << reprint.text;
    EXPECT_TRUE(printed[3].ends_with(" voided")) << printed[3];
    const std::string by = receipt == onHandheld ? "buyer" : "office";
    EXPECT_EQ(
        std::vector(printed.begin() + 6, printed.end()),
        (std::vector<std::string>{"VOIDED 2026-05-04 09:31 UTC by " + by, "Reason: " + said.substr(said.find(": ") + 2),
                                  "Its books were taken back: nothing was", "paid on this ticket.",
                                  std::string(42, '-'), "Total" + std::string(32, ' ') + "$0.00"}));
    EXPECT_EQ(office.get("/admin/tickets?store=1&receipt=" + receipt + "&file=csv").body,
              kTicketCsvHeader + receipt + ",,buyer," + today() + ",voided,2026-05-04 09:31 UTC," + by + "," +
                  said.substr(said.find(": ") + 2) + ",,,,,,,,\r\n");
    const std::string copy = office.get("/admin/receipts?store=1&receipt=" + receipt).body;
    const std::string printout = "<pre id=\"printout\" class=\"receipt\">";
    const std::size_t pre = copy.find(printout) + printout.size();
    EXPECT_EQ(copy.substr(pre, copy.find("</pre>", pre) - pre), reprint.text) << "the back office's copy differs";
  }
  const Answer file = office.get("/admin/tickets?store=1&receipt=" + ended + "&file=csv");
  EXPECT_EQ(file.header("Content-Disposition"), "attachment; filename=\"ticket-" + ended + ".csv\"");
  EXPECT_EQ(file.body, kTicketCsvHeader + ended + ",,buyer," + today() + ",ended,,,,1002,1," + isbnOf("B0000000") +
                           "," + csvField(texts("SELECT title FROM books WHERE item_id = 'B0000000'").at(0)) +
                           ",Ostrand Company,2,1.00,2.00\r\n");
}

TEST_P(BackOffice, ASessionsPurchasesPageWholeAndFilteredByPurchaser) {
  const KeyedList all = purchaseList(1002, {});
  std::vector<std::string> expected = texts(
      "SELECT item_id || '/' || purchaser FROM book_purchasers WHERE session_id = 1002 ORDER BY item_id, purchaser");
  auto keys = [](const KeyedPage& page) {
    std::vector<std::string> out;
    for (const auto& r : page.rows) out.push_back(textAt(r, 0) + "/" + textAt(r, 1));
    return out;
  };
  // Forward from the first page and backward from the last, a page of 7 at a time.
  std::vector<std::string> forward, backward;
  for (KeyedPage page = fetchPage(*db_, all, {PageFrom::First, {}, 7});;
       page = fetchPage(*db_, all, {PageFrom::After, keyOf(all, page.rows.back()), 7})) {
    std::ranges::copy(keys(page), std::back_inserter(forward));
    if (!page.later) break;
  }
  for (KeyedPage page = fetchPage(*db_, all, {PageFrom::Last, {}, 7});;
       page = fetchPage(*db_, all, {PageFrom::Before, keyOf(all, page.rows.front()), 7})) {
    const std::vector<std::string> earlier = keys(page);
    backward.insert(backward.begin(), earlier.begin(), earlier.end());
    if (!page.earlier) break;
  }
  EXPECT_GT(expected.size(), 14u);
  EXPECT_EQ(forward, expected);
  EXPECT_EQ(backward, expected);

  ticket({{}}, kLeftOpen);
  const PurchaseFilter ostrand{"Ostrand Company", ""};
  for (const auto& r : fetchPage(*db_, purchaseList(1002, ostrand), {PageFrom::First, {}, 1000}).rows)
    EXPECT_EQ(purchaseOf(r).purchaser, "Ostrand Company");
  const PurchaseTotals totals = totalsOf(*db_, 1002, ostrand);
  EXPECT_EQ(std::to_string(totals.bought),
            texts("SELECT '' || SUM(bought_qty) FROM book_purchasers WHERE session_id = 1002"
                  " AND purchaser = 'Ostrand Company'")
                .at(0));
  EXPECT_EQ(totalsOf(*db_, 1002, {"Ostrand Company", "Wholesale"}).rows, 0);
}

// A manager of store 2 asks, by its own store's address or store 1's, for each of store 1's pages: a ticket, a
// receipt, a session and its shipping, a cash drawer, the chain's sheets. Each is refused with its sentence and
// shows nothing of store 1, not even a title, which wherever shown reads as text.
TEST_P(BackOffice, AnotherStoresManagerSeesNothingOfItAndTitlesShowAsText) {
  db_->execute("UPDATE books SET title = '<script>alert(1)</script>' WHERE item_id = 'B0000001'");
  const std::string receipt = ticket({{}}, kLeftOpen);
  ticket({{}}, kEnd);  // for the shipping pages
  const std::string day = today();

  AdminBrowser office = signedIn("office", "office1");
  ASSERT_EQ(
      answerSentence(office.post(
          "/admin/drawers", {{"store", "1"}, {"action", "open"}, {"day", day}, {"buyer", "buyer"}, {"start", "1"}})),
      "The drawer of buyer for " + day + " is open with $1.00.");
  const std::string drawer = texts("SELECT '' || drawer_id FROM cash_drawers").at(0);
  const std::string shipping = "shipping?store=1&session=1002&purchaser=Ostrand%20Company";
  for (const std::string& page : std::vector<std::string>{"sessions?store=1&session=1002&purchaser=Ostrand%20Company",
                                                          "tickets?store=1&receipt=" + receipt,
                                                          "receipts?store=1&receipt=" + receipt, shipping}) {
    const Answer a = office.get("/admin/" + page);
    EXPECT_EQ(a.status, 200) << page;
    EXPECT_EQ(a.body.find("<script>"), std::string::npos) << page;
    EXPECT_NE(a.body.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos) << page;
  }

  AdminBrowser north = signedIn("manager", "manager1");
  const std::string notStore1 = "You may not see store 1 in the back office.",
                    noSession = "Store 2 has no buying session 1002.";
  const std::string notChain = "Only a manager of the whole chain sees the chain's cash drawers.";
  const std::string own = "shipping?session=1002&purchaser=Ostrand%20Company";
  const struct {
    std::string page, sentence;
  } refused[] = {
      {"sessions?session=1002", noSession},
      {"tickets?receipt=" + receipt, "Store 2 has no ticket " + receipt + "."},
      {"tickets?receipt=" + receipt + "&file=csv", "Store 2 has no ticket " + receipt + "."},
      {"tickets?store=1&receipt=" + receipt + "&file=csv", notStore1},
      {"receipts?receipt=" + receipt, "Store 2 has no receipt " + receipt + "."},
      {own, noSession},
      {own + "&sheet=labels", noSession},
      {own + "&file=csv", noSession},
      {shipping, notStore1},
      {shipping + "&file=csv", notStore1},
      {"drawers?drawer=" + drawer, "Store 2 has no cash drawer " + drawer + "."},
      {"drawers?store=1&day=" + day, notStore1},
      {"drawers?sheet=chain&day=" + day, notChain},
      {"drawers?sheet=chain&file=csv&day=" + day, notChain},
  };
  for (const auto& r : refused) {
    const Answer a = north.get("/admin/" + r.page);
    EXPECT_EQ(std::pair(a.status / 100, pageSentence(a.body)), std::pair(4, r.sentence)) << r.page;
    EXPECT_EQ(a.body.find("script"), std::string::npos) << r.page;
  }
  EXPECT_EQ(north.get("/admin/tickets?day=" + day).body.find(receipt), std::string::npos);
  EXPECT_NE(office.get("/admin/tickets?day=" + day).body.find(receipt), std::string::npos);
}

// A printer's port on 127.0.0.1, keeping what one connection sends.
class PrinterPort {
 public:
  PrinterPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd_, 1) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      throw std::runtime_error("no port for the printer");
    port_ = ntohs(address.sin_port);
    reader_ = std::thread([this] {
      const int client = ::accept(fd_, nullptr, nullptr);
      char chunk[4096];
      for (ssize_t n; client >= 0 && (n = ::recv(client, chunk, sizeof chunk, 0)) > 0;) received_.append(chunk, n);
      if (client >= 0) ::close(client);
    });
  }
  ~PrinterPort() {
    ::shutdown(fd_, SHUT_RDWR);
    if (reader_.joinable()) reader_.join();
    ::close(fd_);
  }
  std::uint16_t port() const { return port_; }
  std::string received() {  // once the sender closed
    reader_.join();
    return received_;
  }

 private:
  int fd_;
  std::uint16_t port_ = 0;
  std::thread reader_;
  std::string received_;
};

TEST_P(BackOffice, AReceiptGoesToTheStoresPrinterAsTheHandheldPrintsIt) {
  const std::string receipt = ticket({{}}, kLeftOpen);
  const wire::Reply printed = askWith(wire::kAppSellin, token_, query(wire::requests::receiptPrint(receipt, 1, true)));
  ASSERT_FALSE(printed.error) << printed.text;

  PrinterPort port;
  storeserver::ServerOptions o = options();
  o.seedDemo = false;
  std::string error;
  for (const std::string& setting :
       std::vector<std::string>{"1 Front counter = 127.0.0.1:" + std::to_string(port.port()), "1 Gone = 127.0.0.1:1",
                                "2 North = 127.0.0.1:" + std::to_string(port.port())})
    o.printers.push_back(*readPrinter(setting, error));
  start(o);
  AdminBrowser office = signedIn("office", "office1");
  const Answer shown = office.get("/admin/receipts?store=1&receipt=" + receipt);
  EXPECT_NE(shown.body.find("<option value=\"Front counter\">"), std::string::npos);
  EXPECT_EQ(shown.body.find("<option value=\"North\">"), std::string::npos) << "a printer of another store offered";

  const auto print = [&](const std::string& printer) {
    return answerSentence(office.post("/admin/receipts", {{"store", "1"}, {"receipt", receipt}, {"printer", printer}}));
  };
  EXPECT_EQ(print("North"), "Store 1 has no printer named North.");
  EXPECT_EQ(print("Gone"), "The printer Gone (127.0.0.1:1) could not be reached: check that it is on and connected, "
                           "then print again.");
  EXPECT_EQ(print("Front counter"), "Receipt " + receipt + " was sent to Front counter.");
  EXPECT_EQ(port.received(), printed.text);
}

TEST(ReceiptPrinters, ASettingNamesStorePrinterAndAddress) {
  const struct {
    const char* setting;
    const char* read;  // store|name|host|port, or empty when refused
  } cases[] = {
      {"1 Front counter = 10.0.4.20:9100", "1|Front counter|10.0.4.20|9100"},
      {" 2  Office=printer.local ", "2|Office|printer.local|9100"},
      {"1 Office = 10.0.4.20:0", ""},
      {"1 Office = 10.0.4.20:70000", ""},
      {"Office = 10.0.4.20", ""},
      {"0 Office = 10.0.4.20", ""},
      {"1 = 10.0.4.20", ""},
      {"1 Office", ""},
      {"1 Office = :9100", ""},
  };
  for (const auto& c : cases) {
    std::string error;
    const auto p = readPrinter(c.setting, error);
    EXPECT_EQ(p ? std::to_string(p->store) + "|" + p->name + "|" + p->host + "|" + std::to_string(p->port) : "", c.read)
        << c.setting;
    EXPECT_EQ(error.empty(), p.has_value()) << c.setting;
  }
}

}  // namespace
}  // namespace servertest
