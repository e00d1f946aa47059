// CSocketMessage sends an exchange holding an update once more after the
// answer was lost, and the real server applies the update once.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "tessel/data_array.h"
#include "tessel/query_strings.h"
#include "tessel/records.h"
#include "tessel/socket_message.h"
#include "tests/support/demo_server.h"
#include "transport_support.h"
#include "wire/exchange.h"

namespace {

// Test double between the handheld and the real server: passes each request
// on and relays its answer, except the first exchange whose body holds
// `marker`: the server answers it, and the double hangs up instead of relaying.
class AnswerDroppingProxy {
 public:
  AnswerDroppingProxy(int serverPort, std::string marker) : server_("127.0.0.1", serverPort), marker_(std::move(marker)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      throw std::runtime_error("cannot listen on 127.0.0.1");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~AnswerDroppingProxy() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
  int forwardedWithMarker() const { return marked_; }

 private:
  void run() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 50) != 1) continue;
      const int connection = ::accept(listener_, nullptr, nullptr);
      serve(connection);
      ::close(connection);
    }
  }
  void serve(int connection) {
    std::string path, body;
    while (readRequest(connection, path, body)) {
      const auto answer = server_.Post(path.c_str(), body, "application/json");
      const bool marked = body.find(marker_) != std::string::npos;
      if (marked && marked_++ == 0) return;
      if (!answer) return;
      const std::string response = "HTTP/1.1 " + std::to_string(answer->status) +
                                   " X\r\nContent-Type: application/json\r\nContent-Length: " +
                                   std::to_string(answer->body.size()) + "\r\n\r\n" + answer->body;
      ::send(connection, response.data(), response.size(), MSG_NOSIGNAL);
    }
  }
  bool readRequest(int connection, std::string& path, std::string& body) {
    std::size_t end;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos)
      if (!fill(connection)) return false;
    const std::string head = buffer_.substr(0, end);
    path = head.substr(head.find(' ') + 1, head.find(' ', head.find(' ') + 1) - head.find(' ') - 1);
    const std::size_t field = head.find("Content-Length: ");
    const std::size_t length = field == std::string::npos ? 0 : std::stoul(head.substr(field + 16));
    while (buffer_.size() < end + 4 + length)
      if (!fill(connection)) return false;
    body = buffer_.substr(end + 4, length);
    buffer_.erase(0, end + 4 + length);
    return true;
  }
  bool fill(int connection) {
    pollfd p{connection, POLLIN, 0};
    char chunk[4096];
    const ssize_t n = ::poll(&p, 1, 5000) > 0 ? ::recv(connection, chunk, sizeof chunk, 0) : -1;
    if (n <= 0) buffer_.clear();
    else buffer_.append(chunk, std::size_t(n));
    return n > 0;
  }

  httplib::Client server_;
  std::string marker_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> marked_{0};
  std::string buffer_;
  std::thread thread_;
};

class UpdateRetry : public transport_test::TesselTest {
 protected:
  bool send(CSocketMessage& msg, int packet, const QString& text) {
    msg.Reset();
    msg.AddQuery(packet, text);
    return msg.SendQuery() && !msg.IsError(0);
  }
  // The demo purchaser's bought quantity of the book, as the handheld reads it.
  int bought(CSocketMessage& msg) {
    EXPECT_TRUE(send(msg, wire::kPacketQuery, CGlobalQueryStrings::GetSLPurchase(1002, "B0000001", 1)))
        << msg.GetResponse(0).toStdString();
    CDataArray<CSLPurchaseDtlInfo> purchasers;
    purchasers.FillFromResponse(msg.GetResponse(0));
    return purchasers.GetSize() > 0 ? purchasers.GetAt(0).m_nBoughtQty : -1;
  }
};

TEST_F(UpdateRetry, AnUpdateWhoseAnswerWasLostIsSentOnceMoreAndStoredOnce) {
  testsupport::DemoServer server;
  ASSERT_TRUE(server.started());
  AnswerDroppingProxy proxy(server.port(), "sl_item");
  CSocketMessage msg(wire::kAppSellin);
  msg.SetServer(proxy.address());
  msg.SetCredentials("buyer", "buyer1");
  ASSERT_TRUE(send(msg, wire::kPacketQuery, CGlobalQueryStrings::GetSLTicket("buyer", "", 1)))
      << msg.GetResponse(0).toStdString();
  CReceiptInfo receipt;
  receipt.SetFields(msg.GetResponse(0));
  const int before = bought(msg);

  const int exchanges = server.exchangeCount();
  const QString update =
      CGlobalUpdateStrings::GetSLItem(receipt.m_strReceipt, 1, "Ostrand Company", 1002, "B0000001", 1, "1.00");
  EXPECT_TRUE(send(msg, wire::kPacketNewItem, update)) << msg.GetResponse(0).toStdString();
  EXPECT_EQ(proxy.forwardedWithMarker(), 2) << "the update was not sent again";
  EXPECT_EQ(server.exchangeCount() - exchanges, 2);
  EXPECT_EQ(bought(msg), before + 1) << "the update was applied " << bought(msg) - before << " times";
}

TEST_F(UpdateRetry, AQueryWhoseAnswerWasLostIsNotSentAgain) {
  testsupport::DemoServer server;
  ASSERT_TRUE(server.started());
  AnswerDroppingProxy proxy(server.port(), "sl_purchasers");
  CSocketMessage msg(wire::kAppSellin);
  msg.SetServer(proxy.address());
  msg.SetCredentials("buyer", "buyer1");
  const int exchanges = server.exchangeCount();
  EXPECT_FALSE(send(msg, wire::kPacketQuery, CGlobalQueryStrings::GetSLPurchase(1002, "B0000001", 1)));
  EXPECT_EQ(msg.GetResponse(0), CSocketMessage::ClosedText());
  EXPECT_EQ(server.exchangeCount() - exchanges, 1);
}

}  // namespace
