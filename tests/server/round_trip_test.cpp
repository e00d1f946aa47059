// How often an update waits for PostgreSQL, counted by the server's connections: each wait is a network
// round trip, which bounds a chain's updates per second.
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
  // The round trips of all the server's connections so far.
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
  const std::string token = buyingLogin("buyer", "buyer1");
  const std::string receipt = openTicket(token);
  const struct {
    const char* what;
    std::string text;
    int packet;
  } updates[] = {
      {"a line added", itemText(receipt), kAdd},
      {"its price changed", itemText(receipt, {.price = "11.00"}), kChange},
      {"the line deleted", itemText(receipt), kDelete},
      {"the line added again", itemText(receipt), kAdd},
      {"the ticket voided", wire::requests::ticketTran(newUpdateId(), receipt), kDelete},
      {"the ticket ended", wire::requests::ticketTran(newUpdateId(), receipt), kChange},
  };
  for (const auto& u : updates) {
    const std::uint64_t before = roundTrips();
    EXPECT_EQ(sellin(token, u.text, u.packet), "ok") << u.what;
    EXPECT_LE(roundTrips() - before, 3u) << u.what;
  }
}

}  // namespace
}  // namespace servertest
