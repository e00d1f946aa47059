// CSocketMessage sends an exchange holding an update once more after the
// answer was lost, and the real server applies the update once.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <optional>
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
// `marker`: the server applies it, and the double breaks off its answer.
class AnswerDroppingProxy {
 public:
  AnswerDroppingProxy(int serverPort, std::string marker) : marker_(std::move(marker)) {
    proxy_.Post(".*", [this, serverPort](const httplib::Request& request, httplib::Response& response) {
      httplib::Client server("127.0.0.1", serverPort);
      const auto answer = server.Post(request.path, request.body, "application/json");
      response.status = answer ? answer->status : 502;
      if (request.body.find(marker_) != std::string::npos && marked_++ == 0)
        response.set_content_provider(answer->body.size(), "application/json",
                                      [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
      else if (answer)
        response.set_content(answer->body, "application/json");
    });
    port_ = proxy_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { proxy_.listen_after_bind(); });
  }
  ~AnswerDroppingProxy() {
    while (!proxy_.is_running()) std::this_thread::yield();  // a stop before the start would be lost
    proxy_.stop();
    thread_.join();
  }
  QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
  int forwardedWithMarker() const { return marked_; }

 private:
  httplib::Server proxy_;
  std::string marker_;
  int port_ = 0;
  std::atomic<int> marked_{0};
  std::thread thread_;
};

class UpdateRetry : public transport_test::TesselTest {
 protected:
  void SetUp() override {
    TesselTest::SetUp();
    ASSERT_TRUE(server_.started());
  }
  // The buyer's handheld sends its exchanges through a proxy dropping the answer to marker.
  AnswerDroppingProxy& sendThrough(const std::string& marker) {
    proxy_.emplace(server_.port(), marker);
    msg_.SetServer(proxy_->address());
    msg_.SetCredentials("buyer", "buyer1");
    return *proxy_;
  }
  bool send(int packet, const QString& text) {
    msg_.Reset();
    msg_.AddQuery(packet, text);
    return msg_.SendQuery() && !msg_.IsError(0);
  }
  // The demo purchaser's bought quantity of the book, as the handheld reads it.
  int bought() {
    EXPECT_TRUE(send(wire::kPacketQuery, CGlobalQueryStrings::GetSLPurchase(1002, "B0000001", 1)))
        << msg_.GetResponse(0).toStdString();
    CDataArray<CSLPurchaseDtlInfo> purchasers;
    purchasers.FillFromResponse(msg_.GetResponse(0));
    return purchasers.GetSize() > 0 ? purchasers.GetAt(0).m_nBoughtQty : -1;
  }
  testsupport::DemoServer server_;
  std::optional<AnswerDroppingProxy> proxy_;
  CSocketMessage msg_{wire::kAppSellin};  // last: its connection closes before the proxy stops
};

TEST_F(UpdateRetry, AnUpdateWhoseAnswerWasLostIsSentOnceMoreAndStoredOnce) {
  const AnswerDroppingProxy& proxy = sendThrough("sl_item");
  ASSERT_TRUE(send(wire::kPacketQuery, CGlobalQueryStrings::GetSLTicket("buyer", "", 1)))
      << msg_.GetResponse(0).toStdString();
  CReceiptInfo receipt;
  receipt.SetFields(msg_.GetResponse(0));
  const int before = bought();

  const int exchanges = server_.exchangeCount();
  const QString update =
      CGlobalUpdateStrings::GetSLItem(receipt.m_strReceipt, 1, "Ostrand Company", 1002, "B0000001", 1, "1.00");
  EXPECT_TRUE(send(wire::kPacketNewItem, update)) << msg_.GetResponse(0).toStdString();
  EXPECT_EQ(proxy.forwardedWithMarker(), 2) << "the update was not sent again";
  EXPECT_EQ(server_.exchangeCount() - exchanges, 2);
  EXPECT_EQ(bought(), before + 1) << "the update was applied " << bought() - before << " times";
}

TEST_F(UpdateRetry, AQueryWhoseAnswerWasLostIsNotSentAgain) {
  sendThrough("sl_purchasers");
  const int exchanges = server_.exchangeCount();
  EXPECT_FALSE(send(wire::kPacketQuery, CGlobalQueryStrings::GetSLPurchase(1002, "B0000001", 1)));
  EXPECT_EQ(msg_.GetResponse(0), CSocketMessage::ClosedText());
  EXPECT_EQ(server_.exchangeCount() - exchanges, 1);
}

}  // namespace
