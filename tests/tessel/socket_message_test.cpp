// CSocketMessage against the real store server over loopback HTTP, and against
// test doubles for what a healthy server never does.
#include <QTcpServer>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <unistd.h>

#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "tessel/socket_message.h"
#include "tests/support/demo_server.h"
#include "transport_support.h"
#include "wire/exchange.h"
#include "wire/requests.h"

namespace {

using Answer = std::pair<int, std::string>;  // HTTP status, body

// Test double of the store server: answers the requests for a path with the
// answers given for it in turn, the last one for ever (404 for other paths),
// and records the path of every request and its body.
class CannedHttpServer {
 public:
  explicit CannedHttpServer(std::map<std::string, std::vector<Answer>> answers) : answers_(std::move(answers)) {
    server_.Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back({request.path, request.body});
      std::vector<Answer>& left = answers_[request.path];
      const Answer answer = left.empty() ? Answer{404, "{}"} : left.front();
      if (left.size() > 1) left.erase(left.begin());
      response.status = answer.first;
      response.set_content(answer.second, "application/json");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot listen on 127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~CannedHttpServer() {
    while (!server_.is_running()) std::this_thread::yield();  // a stop before the start would be lost
    server_.stop();
    thread_.join();
  }
  QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
  std::vector<std::pair<std::string, std::string>> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  std::map<std::string, std::vector<Answer>> answers_;
  httplib::Server server_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> requests_;
  std::thread thread_;
};

const Answer kLoggedIn{200, wire::toJson(wire::LoginReply{"tok-1", "clerk", "Logged in", ""})};

QString aidQuery(const char* studentId) { return QString::fromStdString(wire::requests::aidAccounts(studentId)); }

// A Stipendo message for clerk with one aid account query queued.
std::unique_ptr<CSocketMessage> aidMessage(const QString& server, const char* password = "clerk1") {
  auto msg = std::make_unique<CSocketMessage>(wire::kAppStipendo);
  msg->SetServer(server);
  msg->SetCredentials("clerk", password);
  msg->AddQuery(wire::kPacketQuery, aidQuery("S100200"));
  return msg;
}

using StoreServerTest = transport_test::TesselTest;

TEST_F(StoreServerTest, EachQueryOfAnExchangeGetsItsOwnReplyAfterALogInOfItsOwn) {
  testsupport::DemoServer server;
  auto msg = aidMessage(server.url());
  for (const QString& query : {aidQuery("S100100"), QString("not a request"), aidQuery("S100300")})
    msg->AddQuery(wire::kPacketQuery, query);
  ASSERT_TRUE(msg->SendQuery()) << msg->GetResponse(0).toStdString();
  EXPECT_EQ(msg->GetUser(), "clerk") << "no log-in before the exchange";
  ASSERT_EQ(msg->GetReplyCount(), 4);
  EXPECT_TRUE(!msg->IsError(0) && msg->GetResponse(0).startsWith("AID")) << msg->GetResponse(0).toStdString();
  EXPECT_TRUE(msg->IsError(1)) << "a student without accounts was answered with records";
  EXPECT_EQ(msg->GetResponse(1), "Student S100100 has no aid accounts.");
  EXPECT_TRUE(msg->IsError(2)) << "a malformed request text was answered with records";
  EXPECT_EQ(msg->GetResponse(3).count(QChar('\r')), 3) << "S100300 has three accounts";
  EXPECT_TRUE(msg->GetCurrentPage(0) == -1 && msg->GetPageCount(0) == -1) << "a reply that is not paged";

  msg->Reset();
  EXPECT_TRUE(msg->GetReplyCount() == 0 && msg->IsError(0)) << "Reset kept the replies";
  msg->AddQuery(wire::kPacketQuery, aidQuery("S100100"));
  ASSERT_TRUE(msg->SendQuery()) << msg->GetResponse(0).toStdString();
  EXPECT_EQ(msg->GetReplyCount(), 1) << "queries of the earlier exchange were sent again";
}

TEST_F(StoreServerTest, RefusedLogInAndAStoppedServerGiveTheirSentences) {
  testsupport::DemoServer server;
  auto msg = aidMessage(server.url(), "wrong");
  QString text;
  EXPECT_FALSE(msg->LogIn(text)) << "a wrong password was accepted";
  EXPECT_EQ(text, "The user name or password is wrong.");
  EXPECT_TRUE(msg->IsError(0) && msg->GetResponse(0) == text) << "reply 0 must hold the refusal";
  EXPECT_FALSE(msg->IsLoggedIn() || !msg->GetUser().isEmpty()) << "a session kept after a refused log-in";
  EXPECT_FALSE(msg->SendQuery()) << "exchange succeeded without a session";
  EXPECT_EQ(msg->GetResponse(0), text) << "SendQuery's own log-in must give the same sentence";

  msg->SetCredentials("clerk", "clerk1");
  ASSERT_TRUE(msg->LogIn(text)) << text.toStdString();
  EXPECT_EQ(text, "Logged in as clerk") << "status text not the server's";
  ASSERT_TRUE(msg->SendQuery()) << msg->GetResponse(0).toStdString();
  // The kept-alive connection dies with the server; the next one is refused.
  server.stop();
  EXPECT_FALSE(msg->SendQuery()) << "exchange succeeded with the server stopped";
  EXPECT_EQ(msg->GetResponse(0), QStringLiteral("Cannot reach the store server at %1.").arg(server.url().mid(7)));
  EXPECT_EQ(msg->GetReplyCount(), 1) << "a failed exchange must leave exactly its sentence";
}

using TransportFailureTest = transport_test::TesselTest;

TEST_F(TransportFailureTest, RefusedSessionLogsInOnceMoreAndRetriesOnce) {
  const Answer expired{401, wire::errorJson("The session has expired; log in again.")};
  const Answer replied{200, wire::toJson(wire::ExchangeReply{{{false, "AID", 0, -1}}})};
  const struct {
    const char* what;
    std::vector<Answer> exchange;
    std::string expected;
  } cases[] = {{"expired once", {expired, replied}, "AID"},
               {"expired for ever", {expired}, "The session has expired; log in again."}};
  for (const auto& c : cases) {
    CannedHttpServer server({{"/v1/login", {kLoggedIn}}, {"/v1/exchange", c.exchange}});
    auto msg = aidMessage(server.address());
    EXPECT_EQ(msg->SendQuery(), c.exchange.size() > 1) << c.what;
    EXPECT_EQ(msg->GetResponse(0).toStdString(), c.expected) << c.what;
    EXPECT_EQ(msg->IsLoggedIn(), c.exchange.size() > 1) << c.what << ": a refused session was kept";
    std::string paths;
    for (const auto& request : server.requests()) paths += request.first + " ";
    EXPECT_EQ(paths, "/v1/login /v1/exchange /v1/login /v1/exchange ") << c.what << ": one retry of both expected";
  }
}

TEST_F(TransportFailureTest, SilentOrUnreadableAnswersGiveASentence) {
  const std::string unreadable = CSocketMessage::UnreadableText().toStdString();
  const struct {
    const char* what;
    Answer login, exchange;
    std::string expected;
  } cases[] = {
      {"not JSON", kLoggedIn, {200, "<html>hello</html>"}, unreadable},
      {"no replies member", kLoggedIn, {200, R"({"answers":[]})"}, unreadable},
      {"fewer replies than queries", kLoggedIn, {200, R"({"replies":[]})"}, unreadable},
      {"a reply of the wrong shape", kLoggedIn, {200, R"({"replies":[{"error":"no","text":1}]})"}, unreadable},
      {"a refusal with the server's sentence", kLoggedIn, {503, wire::errorJson("The store server is busy.")},
       "The store server is busy."},
      {"a refusal without one", kLoggedIn, {502, "Bad gateway"}, unreadable},
      {"a log-in answer that is not one", {200, R"({"token":5})"}, {}, unreadable},
  };
  for (const auto& c : cases) {
    CannedHttpServer server({{"/v1/login", {c.login}}, {"/v1/exchange", {c.exchange}}});
    auto msg = aidMessage(server.address());
    EXPECT_FALSE(msg->SendQuery()) << c.what << ": accepted";
    EXPECT_EQ(msg->GetResponse(0).toStdString(), c.expected) << c.what;
    EXPECT_TRUE(msg->IsError(0)) << c.what;
  }

  setTessel("ReadTimeout", "1");
  QTcpServer silent;  // test double: no event loop runs, so it never accepts nor answers
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost)) << "cannot listen on 127.0.0.1";
  auto msg = aidMessage(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()));
  EXPECT_FALSE(msg->SendQuery()) << "an exchange without an answer succeeded";
  EXPECT_EQ(msg->GetResponse(0), "The store server did not answer within 1 second.");

  // Test double that reads the whole request (a JSON body ends in '}'), then
  // hangs up without answering.
  QTcpServer listener;
  ASSERT_TRUE(listener.listen(QHostAddress::LocalHost)) << "cannot listen on 127.0.0.1";
  auto hangUp = std::async(std::launch::async, [fd = int(listener.socketDescriptor())] {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) return;
    pollfd c{::accept(fd, nullptr, nullptr), POLLIN, 0};
    std::string request;
    char chunk[4096];
    for (ssize_t n = 0; !request.ends_with('}') && ::poll(&c, 1, 10000) == 1 &&
                        (n = ::recv(c.fd, chunk, sizeof chunk, 0)) > 0;)
      request.append(chunk, std::size_t(n));
    ::close(c.fd);
  });
  msg = aidMessage(QStringLiteral("127.0.0.1:%1").arg(listener.serverPort()));
  EXPECT_FALSE(msg->SendQuery()) << "an exchange without an answer succeeded";
  EXPECT_EQ(msg->GetResponse(0), CSocketMessage::ClosedText());
}

TEST_F(TransportFailureTest, PagesGoOutPerQueryAndComeBackPerReply) {
  const std::string replies = wire::toJson(wire::ExchangeReply{{{false, "A", 2, 5}, {false, "B", 0, -1}}});
  CannedHttpServer server({{"/v1/login", {kLoggedIn}}, {"/v1/exchange", {{200, replies}}}});
  CSocketMessage msg(wire::kAppSellin);
  msg.SetServer("http://" + server.address() + "/");
  msg.SetNextPage(7, 1);  // before its query is queued
  msg.AddQuery(wire::kPacketQuery, "first");
  msg.AddQuery(wire::kPacketChange, "second");
  msg.SetNextPage(2);  // after: query 0
  ASSERT_TRUE(msg.SendQuery()) << msg.GetResponse(0).toStdString();
  EXPECT_TRUE(msg.GetCurrentPage(0) == 2 && msg.GetPageCount(0) == 5) << "page of reply 0 lost";
  EXPECT_TRUE(msg.GetCurrentPage(1) == -1 && msg.GetPageCount(1) == -1) << "page 0 (not paged) must read as -1";
  msg.Reset();  // forgets the pages too
  msg.AddQuery(wire::kPacketQuery, "again");
  msg.AddQuery(wire::kPacketQuery, "again");
  ASSERT_TRUE(msg.SendQuery()) << msg.GetResponse(0).toStdString();

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u) << "expected a log-in and two exchanges";
  std::string error;
  const auto sent = wire::parseExchangeRequest(requests[1].second, error);
  ASSERT_TRUE(sent) << "the client sent an exchange the server cannot read: " << error;
  EXPECT_EQ(sent->token, "tok-1") << "the log-in's token was not sent";
  ASSERT_EQ(sent->queries.size(), 2u);
  EXPECT_TRUE(sent->queries[0].page == 2 && sent->queries[1].page == 7) << "pages sent with the wrong queries";
  EXPECT_TRUE(sent->queries[1].packet == wire::kPacketChange && sent->queries[1].text == "second");
  const auto again = wire::parseExchangeRequest(requests[2].second, error);
  EXPECT_TRUE(again && again->queries.at(0).page == -1 && again->queries.at(1).page == -1)
      << "a page asked for before Reset was sent again";
}

TEST_F(TransportFailureTest, NoQueryNoServerOrABadAddressGiveASentenceNotACrash) {
  CSocketMessage msg(wire::kAppStipendo);
  EXPECT_TRUE(msg.IsError(-1) && msg.GetResponse(1) == "There is no reply number 1.") << "a reply that does not exist";
  EXPECT_FALSE(msg.SendQuery()) << "an empty exchange succeeded";
  EXPECT_EQ(msg.GetResponse(0), CSocketMessage::NoQueryText());
  msg.AddQuery(wire::kPacketQuery, aidQuery("S100200"));
  EXPECT_FALSE(msg.SendQuery()) << "an exchange with no server address succeeded";
  EXPECT_EQ(msg.GetResponse(0), CSocketMessage::NoServerText());
  msg.SetServer("ftp://127.0.0.1:21");
  EXPECT_FALSE(msg.SendQuery());
  EXPECT_EQ(msg.GetResponse(0), CSocketMessage::BadAddressText("ftp://127.0.0.1:21"));
}

}  // namespace
