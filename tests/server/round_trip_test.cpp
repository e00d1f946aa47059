// How often an update waits for PostgreSQL, counted by the server's own
// connections from an exchange's arrival to its answer: each wait is a round
// trip across the network, which is what bounds a chain's updates per second.
#include <mutex>

#include "server_fixture.h"

namespace servertest {
namespace {

constexpr int kAdd = wire::kPacketNewItem;
constexpr int kDelete = wire::kPacketDelete;
constexpr int kChange = wire::kPacketChange;

class RoundTrips : public BackendServerTest {
 protected:
  storeserver::ServerOptions options() const override {
    storeserver::ServerOptions o = BackendServerTest::options();
    o.wrapConnection = [seen = connections_](std::unique_ptr<storeserver::storage::Connection> c) {
      std::lock_guard lock(seen->mutex);
      seen->all.push_back(c.get());
      return c;
    };
    return o;
  }

  // The request's answer ("ok" or its sentence) and the round trips it took.
  std::pair<std::string, std::uint64_t> measure(const std::string& token, const std::string& text, int packet) {
    const std::uint64_t before = roundTrips();
    std::string answer = sellin(token, text, packet);
    return {answer, roundTrips() - before};
  }

 private:
  std::uint64_t roundTrips() const {
    std::lock_guard lock(connections_->mutex);
    std::uint64_t sum = 0;
    for (const storeserver::storage::Connection* c : connections_->all) sum += c->roundTrips();
    return sum;
  }
  struct Connections {
    std::mutex mutex;
    std::vector<const storeserver::storage::Connection*> all;  // the server's; they live as long as it
  };
  std::shared_ptr<Connections> connections_ = std::make_shared<Connections>();
};

INSTANTIATE_TEST_SUITE_P(Backends, RoundTrips, ::testing::Values(Backend::Postgres), backendName);

// Each the first of its kind, so a statement prepared on first use counts too.
TEST_P(RoundTrips, EveryUpdateOfATicketTakesAtMostThree) {
  constexpr std::uint64_t kMost = 3;
  const std::string token = buyingLogin("buyer", "buyer1");
  const std::string receipt = openTicket(token);
  LineArgs changed;
  changed.price = "11.00";
  const struct {
    const char* what;
    std::string text;
    int packet;
  } updates[] = {
      {"a line added", itemText(receipt), kAdd},
      {"its price changed", itemText(receipt, changed), kChange},
      {"the line deleted", itemText(receipt), kDelete},
      {"the line added again", itemText(receipt), kAdd},
      {"the ticket voided", wire::requests::ticketTran(newUpdateId(), receipt), kDelete},
      {"the ticket ended", wire::requests::ticketTran(newUpdateId(), receipt), kChange},
  };
  for (const auto& u : updates) {
    const auto [answer, trips] = measure(token, u.text, u.packet);
    EXPECT_EQ(answer, "ok") << u.what;
    EXPECT_LE(trips, kMost) << u.what;
  }
}

}  // namespace
}  // namespace servertest
