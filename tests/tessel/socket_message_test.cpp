// CSocketMessage against the real server over loopback HTTP, and against doubles for lost or spoilt answers.
#include <QTcpServer>
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <set>

#include "tessel/query_strings.h"
#include "tessel/records.h"
#include "tessel/socket_message.h"
#include "tests/support/demo_server.h"
#include "tests/support/forwarding_double.h"
#include "tests/support/test_certificates.h"
#include "tests/support/transport_clock_double.h"
#include "transport_support.h"
#include "wire/exchange.h"
#include "wire/requests.h"

namespace {

using Answer = std::pair<int, std::string>;  // HTTP status, body

using testsupport::LoopbackHttp;

// Test double of the server: per path its answers in turn, the last for ever (else 404); records each request.
// An answer of status kHold is never given: the request waits until the double is destroyed, once onHold ran.
constexpr int kHold = 0;

class CannedHttpServer {
 public:
  explicit CannedHttpServer(std::map<std::string, std::vector<Answer>> answers, std::function<void()> onHold = {})
      : answers_(std::move(answers)), onHold_(std::move(onHold)) {}
  ~CannedHttpServer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = true;
    }
    release_.notify_all();
  }
  QString address() const { return http_.address(); }
  std::vector<std::pair<std::string, std::string>> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void answer(const httplib::Request& request, httplib::Response& response) {
    std::unique_lock<std::mutex> lock(mutex_);
    requests_.push_back({request.path, request.body});
    std::vector<Answer>& left = answers_[request.path];
    const Answer answer = left.empty() ? Answer{404, "{}"} : left.front();
    if (left.size() > 1) left.erase(left.begin());
    if (answer.first == kHold) {
      if (onHold_) onHold_();
      release_.wait(lock, [this] { return released_; });
    }
    response.status = answer.first == kHold ? 504 : answer.first;
    response.set_content(answer.second, "application/json");
  }
  std::map<std::string, std::vector<Answer>> answers_;
  std::function<void()> onHold_;
  mutable std::mutex mutex_;
  std::condition_variable release_;
  bool released_ = false;
  std::vector<std::pair<std::string, std::string>> requests_;
  LoopbackHttp http_{[this](const auto& request, auto& response) { answer(request, response); }};  // stops first
};

std::string exchangeReply(const std::string& text) { return wire::toJson(wire::ExchangeReply{{{false, text, 0, -1}}}); }

std::string loggedIn(const std::string& records) {
  return wire::toJson(wire::LoginReply{"tok-1", "clerk", "Logged in", records});
}

// A list of n records of length 9, as the server lays them out.
std::string recordList(qsizetype n) {
  std::string list;
  for (qsizetype i = 0; i < n; ++i) list += "AID00009X\r";
  return list;
}

const Answer kLoggedIn{200, loggedIn("")};

QString aidQuery(const char* studentId) { return QString::fromStdString(wire::requests::aidAccounts(studentId)); }

// A Stipendo message for clerk with one aid account query queued.
std::unique_ptr<CSocketMessage> aidMessage(const QString& server, const char* password = "clerk1") {
  auto msg = std::make_unique<CSocketMessage>(wire::kAppStipendo);
  msg->SetServer(server);
  msg->SetCredentials("clerk", password);
  msg->AddQuery(wire::kPacketQuery, aidQuery("S100200"));
  return msg;
}

using TransportTest = transport_test::TesselTest;

TEST_F(TransportTest, ARefusedLogInKeepsNoSessionAndItsSentenceIsTheReply) {
  testsupport::DemoServer server;
  auto msg = aidMessage(server.url());
  QString text;
  ASSERT_TRUE(msg->LogIn(text)) << text.toStdString();
  msg->SetCredentials("clerk", "wrong");
  EXPECT_FALSE(msg->LogIn(text)) << "a wrong password was accepted";
  EXPECT_EQ(text, "The user name or password is wrong.");
  EXPECT_TRUE(msg->IsError(0) && msg->GetResponse(0) == text) << "reply 0 must hold the refusal";
  EXPECT_FALSE(msg->IsLoggedIn()) << "the earlier session was kept after a refused log-in";
}

// A refused session logs in once more and retries once.
TEST_F(TransportTest, EveryAnswerTheProgramsCannotUseGivesASentence) {
  const std::string unreadable = CSocketMessage::UnreadableText().toStdString();
  const std::string tooMany = CSocketMessage::TooManyRecordsText().toStdString();
  const std::string printText(kMaxReplyRecords * 3, 'x');  // a receipt, not a record list
  const std::string expiredText = "The session has expired; log in again.";
  const Answer expired{401, wire::errorJson(expiredText)};
  const struct {
    const char* what;
    Answer login;
    std::vector<Answer> exchange;
    std::string expected;
    bool exchanged = false;  // the exchange took place; reply 0 is the server's
    bool refused = true;
    bool retried = false;  // logged in and exchanged twice
  } cases[] = {
      {"not JSON", kLoggedIn, {{200, "<html>hello</html>"}}, unreadable},
      {"no replies member", kLoggedIn, {{200, R"({"answers":[]})"}}, unreadable},
      {"fewer replies than queries", kLoggedIn, {{200, R"({"replies":[]})"}}, unreadable},
      {"a reply of the wrong shape", kLoggedIn, {{200, R"({"replies":[{"error":"no","text":1}]})"}}, unreadable},
      {"a refusal with the server's sentence",
       kLoggedIn,
       {{503, wire::errorJson("The store server is busy.")}},
       "The store server is busy."},
      {"a refusal without one", kLoggedIn, {{500, "Internal error"}}, unreadable},
      {"a balancer's page",
       kLoggedIn,
       {{502, "<html>Bad Gateway</html>"}},
       CSocketMessage::GatewayText(502).toStdString()},
      {"a log-in answer that is not one", {200, R"({"token":5})"}, {}, unreadable},
      {"an answer over the size cap",
       kLoggedIn,
       {{200, exchangeReply(std::string(CSocketMessage::kMaxReplyBytes, 'x'))}},
       CSocketMessage::TooLargeText().toStdString()},
      {"a log-in with too many records", {200, loggedIn(recordList(kMaxReplyRecords + 1))}, {}, tooMany},
      {"a reply with too many records",
       kLoggedIn,
       {{200, exchangeReply(recordList(kMaxReplyRecords + 1))}},
       tooMany,
       true},
      {"a reply with the most records",
       kLoggedIn,
       {{200, exchangeReply(recordList(kMaxReplyRecords))}},
       recordList(kMaxReplyRecords),
       true,
       false},
      {"a long text to print", kLoggedIn, {{200, exchangeReply(printText)}}, printText, true, false},
      {"a session expired once", kLoggedIn, {expired, {200, exchangeReply("AID")}}, "AID", true, false, true},
      {"a session expired for ever", kLoggedIn, {expired}, expiredText, false, true, true},
  };
  for (const auto& c : cases) {
    CannedHttpServer server({{"/v1/login", {c.login}}, {"/v1/exchange", c.exchange}});
    auto msg = aidMessage(server.address());
    EXPECT_EQ(msg->SendQuery(), c.exchanged) << c.what;
    EXPECT_EQ(msg->GetResponse(0).toStdString(), c.expected) << c.what;
    EXPECT_TRUE(msg->IsError(0) == c.refused && msg->GetReplyCount() == 1) << c.what;
    const auto requests = server.requests();
    const auto exchanges = std::count_if(requests.begin(), requests.end(),
                                         [](const auto& request) { return request.first == "/v1/exchange"; });
    EXPECT_FALSE(msg->WasOutcomeUnknown()) << c.what << ": a query has no outcome to doubt";
    if (!c.retried) {
      EXPECT_LE(exchanges, 1) << c.what << ": a query was sent again";
      continue;
    }
    EXPECT_EQ(msg->IsLoggedIn(), c.exchanged) << c.what << ": a refused session was kept";
    std::string paths;
    for (const auto& request : server.requests()) paths += request.first + " ";
    EXPECT_EQ(paths, "/v1/login /v1/exchange /v1/login /v1/exchange ") << c.what << ": one retry of both expected";
  }
}

// A page goes out with its query and comes back with its reply; Reset forgets queries, pages and replies.
TEST_F(TransportTest, APageGoesWithItsQueryAndResetForgetsIt) {
  const auto reply = [](int page, int pages) {
    return Answer{200, wire::toJson(wire::ExchangeReply{{{false, "A", page, pages}}})};
  };
  CannedHttpServer server({{"/v1/login", {kLoggedIn}}, {"/v1/exchange", {reply(2, 5), reply(0, -1)}}});
  auto msg = aidMessage(server.address());
  msg->SetNextPage(2);
  ASSERT_TRUE(msg->SendQuery()) << msg->GetResponse(0).toStdString();
  EXPECT_TRUE(msg->GetCurrentPage(0) == 2 && msg->GetPageCount(0) == 5) << "page of reply 0 lost";
  msg->Reset();
  EXPECT_TRUE(msg->GetReplyCount() == 0 && msg->IsError(0)) << "Reset kept the replies";
  msg->AddQuery(wire::kPacketQuery, aidQuery("S100200"));
  ASSERT_TRUE(msg->SendQuery()) << msg->GetResponse(0).toStdString();
  EXPECT_TRUE(msg->GetCurrentPage(0) == -1 && msg->GetPageCount(0) == -1) << "page 0 (not paged) must read as -1";

  std::vector<int> pagesSent;
  for (const auto& [path, body] : server.requests()) {
    std::string error;
    const auto sent = path == "/v1/exchange" ? wire::parseExchangeRequest(body, error) : std::nullopt;
    if (sent) pagesSent.push_back(sent->queries.size() == 1 ? sent->queries[0].page : -9);
  }
  EXPECT_EQ(pagesSent, (std::vector<int>{2, -1})) << "a query or its page from before Reset was sent again";
}

// The sentence follows what the connection did before the deadline, not how long the exchange seemed to take.
TEST_F(TransportTest, NoQueryNoServerABadAddressASilentServerOrAHangUpGiveASentenceNotACrash) {
  CSocketMessage empty(wire::kAppStipendo);
  EXPECT_TRUE(empty.IsError(-1) && empty.GetResponse(1) == "There is no reply number 1.") << "a reply that is not";
  EXPECT_FALSE(empty.SendQuery()) << "an empty exchange succeeded";
  EXPECT_EQ(empty.GetResponse(0), CSocketMessage::NoQueryText());
  // Test double that reads the whole request (a JSON body ends in '}'), then hangs up without answering.
  QTcpServer hangUp;
  ASSERT_TRUE(hangUp.listen(QHostAddress::LocalHost)) << "cannot listen on 127.0.0.1";
  auto read = std::async(std::launch::async, [fd = int(hangUp.socketDescriptor())] {
    transport_test::readOneConnection(fd, [](const std::string& request) { return request.ends_with('}'); });
  });
  QTcpServer silent;  // test double: no event loop runs, so it never accepts nor answers
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost)) << "cannot listen on 127.0.0.1";
  setTessel("ReadTimeout", "1");
  const std::pair<QString, QString> cases[] = {
      {"", CSocketMessage::NoServerText()},
      {"ftp://127.0.0.1:21", CSocketMessage::BadAddressText("ftp://127.0.0.1:21")},
      {QStringLiteral("127.0.0.1:%1").arg(hangUp.serverPort()), CSocketMessage::ClosedText()},
      {QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()), "The store server did not answer within 1 second."},
      {"http://192.0.2.1:8080", CSocketMessage::PlainHttpText("192.0.2.1:8080")},
  };
  for (const auto& [server, sentence] : cases) {
    auto msg = aidMessage(server);
    EXPECT_FALSE(msg->SendQuery()) << "an exchange without an answer succeeded: " << server.toStdString();
    EXPECT_EQ(msg->GetResponse(0), sentence);
  }
  // Allowed by the profile, plain HTTP to another machine is tried (an address no one answers).
  setTessel("AllowPlainHttp", "1");
  setTessel("ConnectTimeout", "1");
  auto allowed = aidMessage("http://192.0.2.1:8080");
  EXPECT_FALSE(allowed->SendQuery());
  EXPECT_EQ(allowed->GetResponse(0), CSocketMessage::CannotReachText("192.0.2.1:8080"));
}

// TLS with certificates made for the test by a store authority of its own.
TEST_F(TransportTest, OnlyAServerTheStoresAuthorityVouchesForIsSentAnything) {
  const testsupport::TestCertificates store(dir_.path().toStdString(), "store-ca");
  const testsupport::TestCertificates otherStore(dir_.path().toStdString(), "other-ca");
  ASSERT_TRUE(store.ok() && otherStore.ok()) << "the openssl command could not make a certificate authority";
  const std::string ca = store.authority().certificate, missing = path("none.pem").toStdString();
  const struct {
    const char* what;
    testsupport::KeyPair serverFiles;
    std::string caFile;
    bool trusted = false;
  } cases[] = {
      {"the store's own server", store.issue("server", "IP:127.0.0.1"), ca, true},
      {"signed by another authority", otherStore.issue("stranger", "IP:127.0.0.1"), ca},
      {"made for another name", store.issue("elsewhere", "DNS:elsewhere.example"), ca},
      {"no store authority set", store.issue("server", "IP:127.0.0.1"), ""},
      {"the authority file missing", store.issue("server", "IP:127.0.0.1"), missing},
  };
  for (const auto& c : cases) {
    testsupport::DemoServer server(c.serverFiles);
    setTessel("CAFile", QString::fromStdString(c.caFile));
    auto msg = aidMessage(server.url());
    EXPECT_EQ(msg->SendQuery(), c.trusted) << c.what << ": " << msg->GetResponse(0).toStdString();
    if (c.trusted) EXPECT_TRUE(msg->GetResponse(0).startsWith("AID")) << msg->GetResponse(0).toStdString();
    else
      EXPECT_EQ(msg->GetResponse(0), c.caFile == missing ? CSocketMessage::NoCAFileText(path("none.pem"))
                                                         : CSocketMessage::UntrustedText(server.url().mid(8)))
          << c.what;
  }
}

// Unanswered, an update is resent as the same text until SaveTimeout; the sentence tells how long it waited.
// Each try waits by its own limit, also when the connection's read timeout is a day: a resend held by a
// server would otherwise never return.
TEST_F(TransportTest, AnUpdateNeverAnsweredIsGivenUpAtTheSaveTimeoutWithTheTimeWaited) {
  setTessel("SaveTimeout", "2");
  const Answer gatewayTimeout{504, "<html>Gateway Timeout</html>"};
  const struct {
    const char* what;
    const char* readTimeout;  // nullptr: the default
    std::vector<Answer> exchange;
  } cases[] = {
      {"every try refused", nullptr, {gatewayTimeout}},
      {"the resend held", "86400", {gatewayTimeout, {kHold, ""}}},
  };
  for (const auto& c : cases) {
    if (c.readTimeout) setTessel("ReadTimeout", c.readTimeout);
    testsupport::TransportClockDouble clock;  // the pauses between tries take no real time
    // While a try is held, the save time-out passes.
    CannedHttpServer balancer({{"/v1/login", {kLoggedIn}}, {"/v1/exchange", c.exchange}},
                              [&clock] { clock.advance(std::chrono::seconds(2)); });
    CSocketMessage msg(wire::kAppSellin);
    msg.SetClock(clock);
    msg.SetServer(balancer.address());
    msg.SetCredentials("buyer", "buyer1");
    msg.AddQuery(wire::kPacketDelete, CGlobalUpdateStrings::GetSLTran("00000001"));
    EXPECT_FALSE(msg.SendQuery()) << c.what;
    EXPECT_TRUE(msg.WasOutcomeUnknown()) << c.what;
    EXPECT_EQ(msg.GetResponse(0), CSocketMessage::NotConfirmedText(2)) << c.what;
    std::vector<std::string> bodies;
    for (const auto& [path, body] : balancer.requests())
      if (path == "/v1/exchange") bodies.push_back(body);
    EXPECT_GE(bodies.size(), 2u) << c.what << ": the update was not sent again";
    EXPECT_EQ(std::set<std::string>(bodies.begin(), bodies.end()).size(), 1u)
        << c.what << ": a resend carried another text, so another update identity";
  }
}

}  // namespace
