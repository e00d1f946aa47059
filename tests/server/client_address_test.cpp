// Whose request it is behind a load balancer: the balancers the settings name, the client address they forward,
// and each address's share of the connections.
#include <map>

#include "server/client_address.h"
#include "server_fixture.h"

namespace servertest {
namespace {

using storeserver::AddressRange;

boost::asio::ip::address ip(const char* text) { return boost::asio::ip::make_address(text); }

TEST(ClientAddress, BalancersAreNamedByAddressOrRangeWrittenExactly) {
  const struct {
    const char* range;
    std::vector<const char*> inside, outside;
  } valid[] = {
      {"192.168.1.10", {"192.168.1.10", "::ffff:192.168.1.10"}, {"192.168.1.11", "::1"}},
      {"10.0.8.0/24", {"10.0.8.0", "10.0.8.255"}, {"10.0.9.0", "10.0.7.255"}},
      {"10.0.8.0/22", {"10.0.11.7"}, {"10.0.12.0"}},
      {"2001:db8::/32", {"2001:db8:ffff::1"}, {"2001:db9::1", "10.0.8.1"}},
      {"0.0.0.0/0", {"203.0.113.5"}, {"2001:db8::1"}},
  };
  for (const auto& v : valid) {
    const auto range = AddressRange::parse(v.range);
    ASSERT_TRUE(range) << v.range;
    for (const char* a : v.inside) EXPECT_TRUE(range->contains(ip(a))) << a << " in " << v.range;
    for (const char* a : v.outside) EXPECT_FALSE(range->contains(ip(a))) << a << " in " << v.range;
  }
  for (const char* bad : {"", "10.0.8.1/24", "10.0.8.0/33", "10.0.8.0/", "10.0.8.0/-1", "10.0.8", "balancer.example",
                          "[::1]", "fe80::1%eth0", "::ffff:10.0.8.1", "10.0.8.0/24/8", "10.0.8.1:80"})
    EXPECT_FALSE(AddressRange::parse(bad)) << bad;

  std::string bad;
  const auto list = AddressRange::parseList("192.168.1.10, 10.0.8.0/24 ::1", bad);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->size(), 3u);
  EXPECT_FALSE(AddressRange::parseList("192.168.1.10,10.0.8.1/24", bad));
  EXPECT_EQ(bad, "10.0.8.1/24");
}

TEST(ClientAddress, TheClientIsTheLastEntryTheBalancerAppended) {
  const std::pair<const char*, const char*> lines[] = {
      {"10.0.0.1", "10.0.0.1"},
      {"203.0.113.9, 10.0.0.1", "10.0.0.1"},
      {"forged garbage,10.0.0.1 ", "10.0.0.1"},
      {"2001:db8::7", "2001:db8::7"},
      {"::ffff:10.0.0.1", "10.0.0.1"},
      {"", nullptr},
      {"10.0.0.1,", nullptr},
      {"10.0.0.1:8080", nullptr},
      {"[2001:db8::7]", nullptr},
      {"unknown", nullptr},
      {"for=10.0.0.1", nullptr},
      {"10.0.0.1 10.0.0.2", nullptr},
  };
  for (const auto& [line, client] : lines) {
    const auto found = storeserver::forwardedClient(line);
    EXPECT_EQ(found ? found->to_string() : "none", client ? client : "none") << line;
  }
}

// Balancers 127.0.0.2 and 127.0.0.3; every other loopback address is a machine of its own.
class BehindABalancer : public ServerTest {
 protected:
  storeserver::ServerOptions options() const override {
    storeserver::ServerOptions o = ServerTest::options();
    std::string bad;
    o.trustedBalancers = *AddressRange::parseList("127.0.0.2, 127.0.0.3/32", bad);
    o.maxFailedLogins = 0;
    o.maxFailedLoginsPerAddress = 2;
    o.maxConnections = 8;
    o.maxConnectionsPerAddress = 2;
    return o;
  }
  // A wrong password sent from 127.0.0.fromHost, with the header when forwardedFor is not empty. Each host keeps
  // one connection, as a balancer does for all it forwards: a new one could meet the host's share of the
  // connections before the server has seen the last one close.
  Answer wrongPassword(std::uint8_t fromHost, const std::string& forwardedFor) {
    std::unique_ptr<RawConnection>& c = connections_[fromHost];
    if (!c) c = std::make_unique<RawConnection>(port_, fromHost);
    const std::string body = wire::toJson(wire::LoginRequest{wire::kAppStipendo, "clerk", "wrong"});
    c->send("POST /v1/login HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n" +
            (forwardedFor.empty() ? "" : "X-Forwarded-For: " + forwardedFor + "\r\n") +
            "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    return c->readResponse();
  }

  std::map<std::uint8_t, std::unique_ptr<RawConnection>> connections_;
};

TEST_F(BehindABalancer, TheForwardedAddressCountsOnlyFromANamedBalancer) {
  const struct {
    std::uint8_t from;
    const char* forwardedFor;
    int status;
  } tries[] = {
      {1, "10.0.0.1", 401},
      {1, "10.0.0.2", 401},
      {1, "10.0.0.3", 429},  // a machine's own tries, whatever it writes
      {2, "203.0.113.9, 10.0.0.1", 401},
      {3, "10.0.0.1", 401},
      {2, "10.0.0.1", 429},  // one handheld's
      {2, "10.0.0.2", 401},
      {2, "", 401},  // another handheld's, and the balancer's own
      {2, "10.0.0.1:8080", 400},
  };
  for (const auto& t : tries) {
    const Answer a = wrongPassword(t.from, t.forwardedFor);
    EXPECT_EQ(a.status, t.status) << "from 127.0.0." << int(t.from) << " for " << t.forwardedFor << ": " << a.body;
  }
}

TEST_F(BehindABalancer, AMachinePastItsShareOfTheConnectionsIsRefusedAndOthersStillConnect) {
  const std::string health = "GET /v1/health HTTP/1.1\r\nHost: x\r\n\r\n";
  std::vector<std::unique_ptr<RawConnection>> open;
  const auto served = [&](std::uint8_t fromHost) {
    open.push_back(std::make_unique<RawConnection>(port_, fromHost));
    open.back()->send(health);
    return open.back()->readResponse();
  };
  EXPECT_EQ(served(1).status, 200);
  EXPECT_EQ(served(1).status, 200);
  const Answer refused = served(1);
  EXPECT_EQ(refused.status, 503);
  EXPECT_EQ(refused.sentence(), "This address has too many connections open to the store server; try again in a "
                                "moment.");
  EXPECT_EQ(served(4).status, 200) << "another machine";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(served(2).status, 200) << "a balancer's connection " << i;
}

}  // namespace
}  // namespace servertest
