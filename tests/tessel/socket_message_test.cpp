// CSocketMessage against the real store server over loopback HTTP, and against
// test doubles for what a healthy server never does.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "loopback_doubles.h"
#include "server/store_server.h"
#include "tessel/socket_message.h"
#include "transport_support.h"
#include "wire/exchange.h"
#include "wire/requests.h"

namespace {

using transport_test::CannedHttpServer;
using transport_test::httpResponse;

QString aidQuery(const char* studentId) { return QString::fromStdString(wire::requests::aidAccounts(studentId)); }

std::string loginAnswer(const std::string& token) {
  return httpResponse(200, wire::toJson(wire::LoginReply{token, "clerk", "Logged in as clerk", ""}));
}

class StoreServerTest : public transport_test::TesselTest {
 protected:
  void SetUp() override {
    TesselTest::SetUp();
    startServer(std::chrono::hours(1));
  }

  void startServer(std::chrono::milliseconds tokenLifetime) {
    storeserver::ServerOptions options;
    options.port = 0;
    options.databasePath = path("store.db").toStdString();
    options.seedDemo = true;
    options.ioThreads = 1;
    options.workerThreads = 1;
    options.tokenLifetime = tokenLifetime;
    options.passwordCost = storeserver::PasswordCost::minimum();
    options.logSink = [](std::string_view) {};
    std::string error;
    m_server = storeserver::StoreServer::start(options, error);
    ASSERT_TRUE(m_server) << "store server did not start: " << error;
    m_address = QStringLiteral("http://127.0.0.1:%1").arg(m_server->port());
  }

  std::unique_ptr<CSocketMessage> message(int app, const QString& user, const QString& password) {
    auto msg = std::make_unique<CSocketMessage>(app);
    msg->SetServer(m_address);
    msg->SetCredentials(user, password);
    return msg;
  }

  std::unique_ptr<storeserver::StoreServer> m_server;
  QString m_address;
};

TEST_F(StoreServerTest, LogInKeepsTheSessionAndHandsOverTheLogInRecords) {
  auto msg = message(wire::kAppAdoptra, "clerk", "clerk1");
  QString text;
  ASSERT_TRUE(msg->LogIn(text)) << "log-in refused: " << text.toStdString();
  EXPECT_EQ(text, "Logged in as clerk") << "status text not the server's";
  EXPECT_EQ(msg->GetUser(), "clerk");
  EXPECT_TRUE(msg->IsLoggedIn()) << "no session kept";
  ASSERT_EQ(msg->GetReplyCount(), 1) << "the log-in records are not reply 0";
  EXPECT_FALSE(msg->IsError(0)) << msg->GetResponse(0).toStdString();
  // Adoptra's log-in carries its store's locations as records.
  EXPECT_FALSE(msg->GetResponse(0).isEmpty()) << "Adoptra's locations missing from reply 0";
  EXPECT_TRUE(msg->GetResponse(0).contains(QChar('\r'))) << "reply 0 is not a record text";

  // The session is used as is: no second log-in is needed for the exchange.
  msg->SetCredentials("clerk", "clerk1");
  EXPECT_TRUE(msg->IsLoggedIn()) << "unchanged credentials dropped the session";
  msg->Reset();
  msg->AddQuery(wire::kPacketQuery, aidQuery("S100200"));
  ASSERT_TRUE(msg->SendQuery()) << msg->GetResponse(0).toStdString();
}

TEST_F(StoreServerTest, RefusedLogInGivesTheServersSentence) {
  auto msg = message(wire::kAppStipendo, "clerk", "wrong");
  QString text;
  EXPECT_FALSE(msg->LogIn(text)) << "a wrong password was accepted";
  EXPECT_EQ(text, "The user name or password is wrong.");
  EXPECT_TRUE(msg->IsError(0)) << "a refused log-in left no error in reply 0";
  EXPECT_EQ(msg->GetResponse(0), text);
  EXPECT_TRUE(msg->GetUser().isEmpty()) << "user set after a refused log-in";
  EXPECT_FALSE(msg->IsLoggedIn());

  // The same sentence when SendQuery has to log in by itself.
  msg->AddQuery(wire::kPacketQuery, aidQuery("S100200"));
  EXPECT_FALSE(msg->SendQuery()) << "exchange succeeded without a session";
  EXPECT_EQ(msg->GetResponse(0), text);
}

TEST_F(StoreServerTest, FirstSendQueryLogsInByItself) {
  auto msg = message(wire::kAppStipendo, "clerk", "clerk1");
  msg->AddQuery(wire::kPacketQuery, aidQuery("S100200"));
  ASSERT_TRUE(msg->SendQuery()) << msg->GetResponse(0).toStdString();
  EXPECT_EQ(msg->GetUser(), "clerk") << "no log-in before the exchange";
  ASSERT_EQ(msg->GetReplyCount(), 1);
  EXPECT_FALSE(msg->IsError(0)) << msg->GetResponse(0).toStdString();
  EXPECT_TRUE(msg->GetResponse(0).startsWith("AID")) << "not an aid account record: " << msg->GetResponse(0).toStdString();
}

TEST_F(StoreServerTest, EachQueryOfAnExchangeHasItsOwnReply) {
  auto msg = message(wire::kAppStipendo, "clerk", "clerk1");
  EXPECT_EQ(msg->AddQuery(wire::kPacketQuery, aidQuery("S100200")), 0);
  EXPECT_EQ(msg->AddQuery(wire::kPacketQuery, aidQuery("S100100")), 1);
  EXPECT_EQ(msg->AddQuery(wire::kPacketQuery, "not a request"), 2);
  EXPECT_EQ(msg->AddQuery(wire::kPacketQuery, aidQuery("S100300")), 3);
  ASSERT_TRUE(msg->SendQuery()) << msg->GetResponse(0).toStdString();
  ASSERT_EQ(msg->GetReplyCount(), 4);
  EXPECT_FALSE(msg->IsError(0)) << msg->GetResponse(0).toStdString();
  EXPECT_TRUE(msg->IsError(1)) << "a student without accounts was answered with records";
  EXPECT_EQ(msg->GetResponse(1), "Student S100100 has no aid accounts.");
  EXPECT_TRUE(msg->IsError(2)) << "a malformed request text was answered with records";
  EXPECT_FALSE(msg->IsError(3)) << msg->GetResponse(3).toStdString();
  EXPECT_EQ(msg->GetResponse(3).count(QChar('\r')), 3) << "S100300 has three accounts";
  // Replies that are not paged say so with -1.
  EXPECT_EQ(msg->GetCurrentPage(0), -1);
  EXPECT_EQ(msg->GetPageCount(0), -1);

  // Reset forgets the replies: the next exchange holds only its own query.
  msg->Reset();
  EXPECT_EQ(msg->GetReplyCount(), 0) << "Reset kept the replies";
  EXPECT_TRUE(msg->IsError(0)) << "a forgotten reply still reads as fine";
  msg->AddQuery(wire::kPacketQuery, aidQuery("S100100"));
  ASSERT_TRUE(msg->SendQuery()) << msg->GetResponse(0).toStdString();
  ASSERT_EQ(msg->GetReplyCount(), 1) << "queries of the earlier exchange were sent again";
}

TEST_F(StoreServerTest, ExpiredSessionLogsInOnceMoreAndRetries) {
  // A server whose sessions expire at once hands out a token that is already
  // stale; a second server on the same database then sees it expire.
  m_server.reset();
  startServer(std::chrono::milliseconds(0));
  auto msg = message(wire::kAppStipendo, "clerk", "clerk1");
  QString text;
  ASSERT_TRUE(msg->LogIn(text)) << text.toStdString();

  // Still expiring at once: the one re-log-in does not help, and the exchange
  // fails with the server's sentence instead of looping.
  msg->Reset();
  msg->AddQuery(wire::kPacketQuery, aidQuery("S100200"));
  EXPECT_FALSE(msg->SendQuery()) << "an expired session was accepted";
  EXPECT_EQ(msg->GetResponse(0), "The session has expired; log in again.");

  ASSERT_TRUE(msg->LogIn(text)) << text.toStdString();
  m_server.reset();
  startServer(std::chrono::hours(1));
  msg->SetServer(m_address);
  msg->Reset();
  msg->AddQuery(wire::kPacketQuery, aidQuery("S100200"));
  ASSERT_TRUE(msg->SendQuery()) << "no re-log-in after an expired session: " << msg->GetResponse(0).toStdString();
  EXPECT_FALSE(msg->IsError(0)) << msg->GetResponse(0).toStdString();
  EXPECT_EQ(msg->GetUser(), "clerk");
}

TEST_F(StoreServerTest, StoppedServerCannotBeReached) {
  auto msg = message(wire::kAppStipendo, "clerk", "clerk1");
  msg->AddQuery(wire::kPacketQuery, aidQuery("S100200"));
  ASSERT_TRUE(msg->SendQuery()) << msg->GetResponse(0).toStdString();

  // The kept-alive connection dies with the server; the next one is refused.
  const int port = m_server->port();
  m_server.reset();
  EXPECT_FALSE(msg->SendQuery()) << "exchange succeeded with the server stopped";
  EXPECT_EQ(msg->GetResponse(0), QStringLiteral("Cannot reach the store server at 127.0.0.1:%1.").arg(port));
  EXPECT_TRUE(msg->IsError(0));
  ASSERT_EQ(msg->GetReplyCount(), 1) << "a failed exchange must leave exactly its sentence";
}

class TransportFailureTest : public transport_test::TesselTest {};

TEST_F(TransportFailureTest, SilentServerTimesOutWithASentence) {
  setTessel("ReadTimeout", "1");
  transport_test::SilentListener silent;
  CSocketMessage msg(wire::kAppStipendo);
  msg.SetServer(QStringLiteral("127.0.0.1:%1").arg(silent.port()));
  msg.SetCredentials("clerk", "clerk1");
  msg.AddQuery(wire::kPacketQuery, aidQuery("S100200"));
  EXPECT_FALSE(msg.SendQuery()) << "an exchange without an answer succeeded";
  EXPECT_EQ(msg.GetResponse(0), "The store server did not answer within 1 second.");
}

TEST_F(TransportFailureTest, AnswersThatCannotBeReadAreRefused) {
  const std::string unreadable = CSocketMessage::UnreadableText().toStdString();
  const struct {
    const char* what;
    std::string answer;
    std::string expected;
  } cases[] = {
      {"not JSON", httpResponse(200, "<html>hello</html>"), unreadable},
      {"no replies member", httpResponse(200, R"({"answers":[]})"), unreadable},
      {"fewer replies than queries", httpResponse(200, R"({"replies":[]})"), unreadable},
      {"a reply of the wrong shape", httpResponse(200, R"({"replies":[{"error":"no","text":1}]})"), unreadable},
      {"a refusal with the server's sentence", httpResponse(503, wire::errorJson("The store server is busy.")),
       "The store server is busy."},
      {"a refusal without one", httpResponse(502, "Bad gateway"), unreadable},
      {"no answer at all", "", CSocketMessage::ClosedText().toStdString()},
  };
  for (const auto& c : cases) {
    CannedHttpServer server({{"/v1/login", loginAnswer("t1")}, {"/v1/exchange", c.answer}});
    CSocketMessage msg(wire::kAppStipendo);
    msg.SetServer(QStringLiteral("127.0.0.1:%1").arg(server.port()));
    msg.SetCredentials("clerk", "clerk1");
    msg.AddQuery(wire::kPacketQuery, aidQuery("S100200"));
    EXPECT_FALSE(msg.SendQuery()) << c.what << ": accepted";
    EXPECT_EQ(msg.GetResponse(0).toStdString(), c.expected) << c.what;
    EXPECT_TRUE(msg.IsError(0)) << c.what;
  }

  // A log-in answer that is not one.
  CannedHttpServer server({{"/v1/login", httpResponse(200, R"({"token":5})")}});
  CSocketMessage msg(wire::kAppStipendo);
  msg.SetServer(QStringLiteral("127.0.0.1:%1").arg(server.port()));
  QString text;
  EXPECT_FALSE(msg.LogIn(text)) << "an unreadable log-in answer was accepted";
  EXPECT_EQ(text.toStdString(), unreadable);
  EXPECT_FALSE(msg.IsLoggedIn());
}

TEST_F(TransportFailureTest, AlwaysRefusedSessionIsRetriedOnlyOnce) {
  CannedHttpServer server({{"/v1/login", loginAnswer("t1")},
                           {"/v1/exchange", httpResponse(401, wire::errorJson("The session is not known."))}});
  CSocketMessage msg(wire::kAppStipendo);
  msg.SetServer(QStringLiteral("127.0.0.1:%1").arg(server.port()));
  msg.SetCredentials("clerk", "clerk1");
  msg.AddQuery(wire::kPacketQuery, aidQuery("S100200"));
  EXPECT_FALSE(msg.SendQuery()) << "a refused session counted as success";
  EXPECT_EQ(msg.GetResponse(0), "The session is not known.");
  std::vector<std::string> paths;
  for (const std::string& request : server.requests()) paths.push_back(request.substr(0, request.find(' ')));
  EXPECT_EQ(paths, (std::vector<std::string>{"/v1/login", "/v1/exchange", "/v1/login", "/v1/exchange"}))
      << "expected one log-in, one exchange, then exactly one retry of both";
  EXPECT_EQ(server.connections(), 1) << "the connection was not kept alive across requests";
  EXPECT_FALSE(msg.IsLoggedIn()) << "a refused session was kept";
}

TEST_F(TransportFailureTest, PagesGoOutPerQueryAndComeBackPerReply) {
  const std::string replies = wire::toJson(wire::ExchangeReply{{{false, "A", 2, 5}, {false, "B", 0, -1}}});
  CannedHttpServer server({{"/v1/login", loginAnswer("tok-1")}, {"/v1/exchange", httpResponse(200, replies)}});
  CSocketMessage msg(wire::kAppSellin);
  msg.SetServer(QStringLiteral("http://127.0.0.1:%1/").arg(server.port()));
  msg.SetCredentials("buyer", "buyer1");
  msg.SetNextPage(7, 1);  // before its query is queued
  msg.AddQuery(wire::kPacketQuery, "first");
  msg.AddQuery(wire::kPacketChange, "second");
  msg.SetNextPage(2);  // after: query 0
  ASSERT_TRUE(msg.SendQuery()) << msg.GetResponse(0).toStdString();

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u) << "expected a log-in and one exchange";
  std::string error;
  const auto sent = wire::parseExchangeRequest(requests[1].substr(requests[1].find(' ') + 1), error);
  ASSERT_TRUE(sent) << "the client sent an exchange the server cannot read: " << error;
  EXPECT_EQ(sent->app, wire::kAppSellin);
  EXPECT_EQ(sent->token, "tok-1") << "the log-in's token was not sent";
  ASSERT_EQ(sent->queries.size(), 2u);
  EXPECT_EQ(sent->queries[0].page, 2);
  EXPECT_EQ(sent->queries[1].page, 7);
  EXPECT_EQ(sent->queries[1].packet, wire::kPacketChange);
  EXPECT_EQ(sent->queries[1].text, "second");

  EXPECT_EQ(msg.GetCurrentPage(0), 2);
  EXPECT_EQ(msg.GetPageCount(0), 5);
  EXPECT_EQ(msg.GetCurrentPage(1), -1) << "page 0 (not paged) must read as -1";
  EXPECT_EQ(msg.GetPageCount(1), -1);

  // Reset forgets the pages too.
  msg.Reset();
  msg.AddQuery(wire::kPacketQuery, "again");
  msg.SendQuery();  // the canned answer holds two replies, so this one fails; only what went out matters
  const std::string last = server.requests().back();
  const auto again = wire::parseExchangeRequest(last.substr(last.find(' ') + 1), error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(again->queries.at(0).page, -1) << "a page asked for before Reset was sent again";
}

TEST_F(TransportFailureTest, NoServerOrNoReplyGivesASentenceNotACrash) {
  CSocketMessage msg(wire::kAppStipendo);
  EXPECT_TRUE(msg.IsError(0)) << "reply 0 before any exchange reads as fine";
  EXPECT_EQ(msg.GetResponse(0), "There is no reply number 0.");
  EXPECT_TRUE(msg.IsError(-1));
  EXPECT_EQ(msg.GetResponse(-1), "There is no reply number -1.");
  EXPECT_EQ(msg.GetCurrentPage(9), -1);
  EXPECT_EQ(msg.GetPageCount(-3), -1);

  EXPECT_FALSE(msg.SendQuery()) << "an empty exchange succeeded";
  EXPECT_EQ(msg.GetResponse(0), CSocketMessage::NoQueryText());

  msg.AddQuery(wire::kPacketQuery, aidQuery("S100200"));
  EXPECT_FALSE(msg.SendQuery()) << "an exchange with no server address succeeded";
  EXPECT_EQ(msg.GetResponse(0), CSocketMessage::NoServerText());
  msg.SetServer("ftp://127.0.0.1:21");
  EXPECT_FALSE(msg.SendQuery());
  EXPECT_EQ(msg.GetResponse(0), CSocketMessage::BadAddressText("ftp://127.0.0.1:21"));

  const int port = transport_test::refusedPort();
  msg.SetServer(QStringLiteral("127.0.0.1:%1").arg(port));
  EXPECT_FALSE(msg.SendQuery());
  EXPECT_EQ(msg.GetResponse(0), QStringLiteral("Cannot reach the store server at 127.0.0.1:%1.").arg(port));
  EXPECT_EQ(msg.GetResponse(1), "There is no reply number 1.");
}

}  // namespace
