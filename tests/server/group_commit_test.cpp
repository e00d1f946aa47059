// Updates sharing one commit of the SQLite writer: each is kept or undone on
// its own, and none is kept or answered as saved when their commit fails.
#include <algorithm>
#include <thread>

#include "server/services.h"
#include "server/storage/faulty_connection.h"
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

struct Update { std::string token, text; int packet = wire::kPacketNewItem; };
struct Case {
  const char* what;
  std::vector<Update> group;
  std::vector<std::string> replies;
  std::string stored;
  bool commitFails = false;
};

class GroupCommit : public ServerTest {
 protected:
  storeserver::ServerOptions options() const override {
    auto o = ServerTest::options();
    o.writeGroupProbe = probe_;
    o.wrapConnection = [faults = faults_](auto connection) { return faults->wrap(std::move(connection)); };
    return o;
  }
  void SetUp() override {
    ServerTest::SetUp();
    const auto side = sideConnection();
    side->execute("UPDATE book_purchasers SET buy_qty = 3, bought_qty = 2 WHERE item_id = 'B0000001'");  // one more
    tokens_ = {login(wire::kAppSellin, "buyer", "buyer1"), buyingLogin("clerk", "clerk1")};
    for (const std::string& token : tokens_) receipts_.push_back(openTicket(token));
  }
  Update line(int who, int number, const char* item) const {
    return {tokens_[who], itemText(receipts_[who], {.line = number, .itemId = item})};
  }
  // Sends the updates at once, as one group of the writer; each reply "ok" or its sentence, sorted.
  std::vector<std::string> together(const std::vector<Update>& updates) {
    probe_->gather = updates.size();
    std::vector<std::string> replies(updates.size());
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < updates.size(); ++i)
      threads.emplace_back([&, i, u = updates[i]] { replies[i] = sellin(u.token, u.text, u.packet); });
    threads.clear();
    EXPECT_EQ(probe_->lastGroupSize, updates.size()) << "the updates did not share a commit";
    std::sort(replies.begin(), replies.end());
    return replies;
  }
  // The number of ticket lines, then Ostrand's bought quantity of B0000001 and B0000002.
  std::string stored() const {
    return texts("SELECT (SELECT count(*) FROM ticket_lines) || ' ' || group_concat(bought_qty, ' ') FROM book_purchasers"
                 " WHERE item_id IN ('B0000001', 'B0000002') AND session_id = 1002 AND purchaser = 'Ostrand Company'")
        .at(0);
  }
  std::shared_ptr<storeserver::WriteGroupProbe> probe_ = std::make_shared<storeserver::WriteGroupProbe>();
  std::shared_ptr<storeserver::storage::StorageFaults> faults_ =
      std::make_shared<storeserver::storage::StorageFaults>();
  std::vector<std::string> tokens_, receipts_;
};

TEST_F(GroupCommit, EachUpdateIsKeptOrUndoneOnItsOwnAndAFailedCommitKeepsNone) {
  // The clerk's two copies, then all but one returned elsewhere: the void cannot take both back.
  ASSERT_EQ(together({line(1, 1, "B0000002"), line(1, 2, "B0000002")}), (std::vector<std::string>{"ok", "ok"}));
  sideConnection()->execute("UPDATE book_purchasers SET bought_qty = 1 WHERE item_id = 'B0000002'");
  const Update voidIt{tokens_[1], wire::requests::ticketTran(newUpdateId(), receipts_[1]), wire::kPacketDelete};
  const Update repeated = line(0, 3, "B0000000"), other = line(1, 4, "B0000000");
  const std::string failed(storeserver::kDatabaseFailed);
  const Case cases[] = {
      {"a void refused whole, and a new line", {voidIt, line(0, 1, "B0000000")},
       {"Voiding this ticket would take back copies of this book that were already returned on another ticket: "
        "end the ticket instead, or tell the back office.", "ok"}, "3 2 1"},
      {"two handhelds for the last copy", {line(0, 2, "B0000001"), line(1, 3, "B0000001")},
       {"Can only do a negative buy for this purchaser.", "ok"}, "4 3 1"},
      {"a commit that fails", {repeated, other}, {failed, failed}, "4 3 1", true},
      {"the same update twice, retried", {repeated, repeated}, {"ok", "ok"}, "5 3 1"},
  };
  for (const Case& c : cases) {
    if (c.commitFails) faults_->armCommit(storeserver::storage::Fault::Fail);
    EXPECT_EQ(together(c.group), c.replies) << c.what;
    EXPECT_EQ(stored(), c.stored) << c.what;
  }
}

}  // namespace
}  // namespace servertest
