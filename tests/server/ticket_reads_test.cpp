// A ticket read back as the server stored it: its lines with the terms they
// were added under, a user's open tickets, and a receipt printed again as a
// copy; on SQLite and on PostgreSQL.
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using wire::requests::openTickets;
using wire::requests::receiptPrint;
using wire::requests::ticketLines;

constexpr std::int64_t kSession = 1002;  // no student ID needed
constexpr const char* kOstrand = "Ostrand Company";
constexpr const char* kMidwest = "Midwest Book Wholesale";

struct Line {
  std::int64_t number;
  std::string itemId;
  std::string purchaser;
  std::int64_t qty;
  std::string price;
};

// A record's named fields without their padding, joined by '|'.
std::string fields(const std::u16string& record, const wire::RecordLayout& layout,
                   std::initializer_list<std::string_view> names) {
  std::string out;
  for (std::string_view name : names)
    out += (out.empty() ? "" : "|") + wire::toUtf8(wire::fieldText(record, layout, layout.indexOf(name)));
  return out;
}

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

class TicketReads : public BackendServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    token_ = login(wire::kAppSellin, "buyer", "buyer1");
  }
  wire::Reply send(const std::string& token, const std::string& text, int packet = wire::kPacketQuery) const {
    return askWith(wire::kAppSellin, token, query(text, packet));
  }
  std::string open(const std::string& token, const std::string& student = "") const {
    const auto r = rows(send(token, wire::requests::ticket("buyer", student, 1)), wire::layouts::receipt(), {"receipt"});
    return r.size() == 1 ? r[0] : "";
  }
  // "" when stored, else the refusal.
  std::string write(const std::string& token, const std::string& receipt, const Line& l,
                    int packet = wire::kPacketNewItem) const {
    const auto text = wire::requests::ticketItem(newUpdateId(), receipt, l.number, l.purchaser, kSession, l.itemId,
                                                 l.qty, l.price);
    const wire::Reply r = send(token, text, packet);
    return r.error ? r.text : "";
  }
  // The record the item chooser shows for a book, and the purchasers list for its purchaser.
  std::u16string chooserRecord(const std::string& itemId) const {
    const std::string isbn = storeserver::storage::textAt(
        sideConnection()->query("SELECT isbn13 FROM books WHERE item_id = ?", {itemId}).at(0), 0);
    for (const auto& r : records(send(token_, wire::requests::itemDetail(kSession, isbn, 1))))
      if (fields(r, wire::layouts::slDetail(), {"item_id"}) == itemId) return r;
    ADD_FAILURE() << itemId << " not found";
    return {};
  }
  std::u16string purchasersRecord(const std::string& itemId, const std::string& purchaser) const {
    for (const auto& r : records(send(token_, wire::requests::purchasers(kSession, itemId, 1))))
      if (fields(r, wire::layouts::slPurchase(), {"purchaser"}) == purchaser) return r;
    ADD_FAILURE() << purchaser << " does not buy " << itemId;
    return {};
  }

  std::string token_;
};

INSTANTIATE_TEST_SUITE_P(Backends, TicketReads, kBothBackends, backendName);

TEST_P(TicketReads, StoredLinesComeBackWithTheTermsTheyWereAddedUnder) {
  const std::string receipt = open(token_);
  const wire::Reply none = send(token_, ticketLines(receipt, 1));
  EXPECT_FALSE(none.error) << none.text;
  EXPECT_EQ(none.text, "");

  const Line lines[] = {{1, "B0000001", kOstrand, 1, "12.50"},
                        {2, "B0000003", kMidwest, -1, "3.00"},
                        {3, "B0000002", kOstrand, 1, "5.00"}};
  std::vector<std::u16string> shownWhenAdded;
  for (const Line& l : lines) {
    shownWhenAdded.push_back(chooserRecord(l.itemId));
    shownWhenAdded.push_back(purchasersRecord(l.itemId, l.purchaser));
    ASSERT_EQ(write(token_, receipt, l), "") << "line " << l.number;
  }
  ASSERT_EQ(write(token_, receipt, {3, "B0000002", kOstrand, 2, "6.00"}, wire::kPacketChange), "");

  // Each line's TLN fields, and the records that follow them.
  const auto readBack = [&] {
    std::vector<std::string> tln;
    std::vector<std::u16string> terms;
    for (const std::u16string& r : records(send(token_, ticketLines(receipt, 1)))) {
      if (r.starts_with(u"TLN"))
        tln.push_back(fields(r, wire::layouts::ticketLine(), {"line", "item_id", "purchaser", "qty", "price"}));
      else terms.push_back(r);
    }
    return std::pair{tln, terms};
  };
  const std::vector<std::string> stored = {"00001|B0000001|Ostrand Company|000001|00012.50",
                                           "00002|B0000003|Midwest Book Wholesale|-00001|00003.00",
                                           "00003|B0000002|Ostrand Company|000002|00006.00"};
  EXPECT_EQ(readBack().first, stored);
  EXPECT_EQ(readBack().second, shownWhenAdded) << "a line's terms count its own quantity";

  // Terms removed since: the purchaser with nothing to buy. An ended ticket is still read.
  sideConnection()->execute("DELETE FROM book_purchasers WHERE item_id = 'B0000003' AND purchaser = ?",
                            {std::string(kMidwest)});
  ASSERT_FALSE(send(token_, wire::requests::ticketTran(newUpdateId(), receipt), wire::kPacketChange).error);
  const auto [after, terms] = readBack();
  EXPECT_EQ(after, stored);
  ASSERT_EQ(terms.size(), 6u);
  EXPECT_EQ(fields(terms[3], wire::layouts::slPurchase(), {"purchaser", "buy_qty", "bought_qty", "need_qty", "buy_price"}),
            "Midwest Book Wholesale|0|00000|0|00000.00");

  // Manager proved buyer's rights at store 1 and has his own at store 2.
  const std::string manager = buyingLogin("manager", "manager1");
  const std::string managers = open(manager);
  ASSERT_EQ(write(manager, managers, lines[0]), "");
  EXPECT_EQ(send(manager, ticketLines(receipt, 1)).text, "This ticket was opened by another user: start a new ticket.");
  EXPECT_EQ(send(manager, ticketLines(managers, 2)).text, "This ticket belongs to another store: start a new ticket.");
  EXPECT_EQ(send(manager, ticketLines("99999999", 1)).text,
            "The store server has no ticket with this receipt number: start a new ticket.");
}

TEST_P(TicketReads, OpenTicketsAreTheUsersOwnWithLinesNewestFirst) {
  const auto ticketWith = [&](const std::string& token, const std::string& student, const std::vector<Line>& lines) {
    const std::string receipt = open(token, student);
    for (const Line& l : lines) EXPECT_EQ(write(token, receipt, l), "") << student;
    return receipt;
  };
  const std::string older = ticketWith(token_, "S1", {{1, "B0000000", kOstrand, 2, "12.50"}});
  const std::string newer =
      ticketWith(token_, "S2", {{1, "B0000000", kOstrand, 1, "1.00"}, {2, "B0000003", kMidwest, -1, "3.00"}});
  ticketWith(token_, "S3", {});
  const std::string ended = ticketWith(token_, "S4", {{1, "B0000000", kOstrand, 1, "1.00"}});
  ASSERT_FALSE(send(token_, wire::requests::ticketTran(newUpdateId(), ended), wire::kPacketChange).error);
  ticketWith(buyingLogin("clerk", "clerk1"), "S5", {{1, "B0000000", kOstrand, 1, "1.00"}});

  EXPECT_EQ(rows(send(token_, openTickets(1)), wire::layouts::openTicket(), {"receipt", "student_id", "lines", "total"}),
            (std::vector<std::string>{newer + "|S2|00002|-00000002.00", older + "|S1|00001|000000025.00"}));
  const wire::Reply elsewhere = send(buyingLogin("manager", "manager1", "manager", "manager1", 2), openTickets(2));
  EXPECT_FALSE(elsewhere.error) << elsewhere.text;
  EXPECT_EQ(elsewhere.text, "");
}

TEST_P(TicketReads, ACopyPrintsAnyTicketOfTheStoreHeadedAsACopy) {
  const std::string receipt = open(token_);
  ASSERT_EQ(write(token_, receipt, {1, "B0000001", kOstrand, 1, "12.50"}), "");
  const wire::Reply original = send(token_, receiptPrint(receipt, 1));
  ASSERT_FALSE(original.error) << original.text;

  const std::string clerk = buyingLogin("clerk", "clerk1");
  const wire::Reply copy = send(clerk, receiptPrint(receipt, 1, true));
  EXPECT_EQ(copy.text, "*** COPY ***\r\n" + original.text);
  printLines(copy.text);
  EXPECT_EQ(send(clerk, receiptPrint(receipt, 1)).text, "This ticket was opened by another user: start a new ticket.");
  EXPECT_EQ(send(clerk, receiptPrint("99999999", 1, true)).text, "There is no receipt 99999999 at this store.");
  EXPECT_EQ(send(login(wire::kAppSellin, "manager", "manager1"), receiptPrint(receipt, 2, true)).text,
            "Receipt " + receipt + " is not a receipt of this store.");
}

}  // namespace
}  // namespace servertest
