// Malformed, oversized and hostile requests each get a status and a sentence; the server goes on.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "server/log.h"
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

using Hostile = ServerTest;
using wire::requests::aidAccounts;
using wire::requests::sessions;

const std::string kUnreadable = "The store server cannot read this handheld's request; tell the back office.";

// What no working program sends: the clerk reads one plain sentence, the log says why.
TEST_F(Hostile, MalformedOrNonJsonBodiesGetTheirStatusAndAPlainSentence) {
  const std::string login = wire::toJson(wire::LoginRequest{wire::kAppStipendo, "clerk", "clerk1"});
  const std::string json = "application/json";
  const std::vector<std::tuple<std::string_view, std::string, std::string, int, std::string>> cases = {
      {wire::kLoginPath, R"({"app":0,"user":"clerk"})", json, 400, R"(no \"password\")"},
      {wire::kLoginPath, R"({"app":7,"user":"clerk","password":"clerk1"})", json, 400, "unknown program"},
      {wire::kExchangePath, R"({"app":2,"token":5,"queries":[{"packet":3,"text":"{}"}]})", json, 400, "must be a text"},
      // Once a stack overflow: brackets nested 200,000 deep, before any token check.
      {wire::kExchangePath, std::string(200'000, '[') + std::string(200'000, ']'), json, 400, "nested too deeply"},
      {wire::kLoginPath, login, "text/plain", 415, ""},
      {wire::kLoginPath, login, "application/jsonp", 415, ""},
      {wire::kLoginPath, login, "application/json; charset=utf-8", 200, ""},
      {wire::kLoginPath, login, "Application/JSON", 200, ""},
      {wire::kExchangePath, "{}", "text/plain", 415, ""},
  };
  const std::map<int, std::string> sentences = {
      {400, kUnreadable}, {415, "The store server reads only JSON requests (Content-Type application/json)."}};
  for (const auto& [path, body, type, status, reason] : cases) {
    const Answer a = post(std::string(path), body, type.c_str());
    EXPECT_EQ(a.status, status) << path << " as " << type << ": " << body.substr(0, 80) << " -> " << a.body;
    if (status != 200) {
      EXPECT_EQ(a.sentence(), sentences.at(status)) << path << " as " << type;
    }
    if (!reason.empty()) {
      EXPECT_NE(lastLogLine().find(reason), std::string::npos) << lastLogLine();
    }
  }
  EXPECT_EQ(get("/v1/health").status, 200) << "the server stopped answering";
}

// Each sentence may reach a clerk's screen, so is compared whole; another program's requests are refused.
TEST_F(Hostile, EachBadQueryGetsASentenceForTheClerkAndTheOthersAreAnswered) {
  const std::string onlySellin = "Only Sellin may ask the store server for this; log in from Sellin.";
  const std::vector<std::tuple<int, wire::Query, std::string>> cases = {
      {wire::kAppSellin, query(R"({"request":"sl_sessions","user":["buyer"],"password":"buyer1","store":1})"),
       kUnreadable},
      {wire::kAppSellin, query(sessions(std::string(65, 'b'), "p", 1)), "A buyer user name has at most 64 characters."},
      {wire::kAppSellin, query(sessions("buyer", std::string(129, 'p'), 1)),
       "A buyer password has at most 128 characters."},
      {wire::kAppSellin, query(sessions("clerk", "clerk1", 1)), "The user clerk may not buy books."},
      {wire::kAppSellin, query(sessions("former", "former1", 1)), "The buyer user name or password is wrong."},
      {wire::kAppSellin, query(sessions("", "", 1)), "No buyer user name is set."},
      {wire::kAppSellin, query(sessions("buyer' --", "x' OR '1'='1", 1)), "The buyer user name or password is wrong."},
      {wire::kAppSellin, query(aidAccounts("S100200")),
       "Only Stipendo may ask the store server for this; log in from Stipendo."},
      {wire::kAppSellin, query(wire::requests::adoptionsByStudent("S100200", 1, false)),
       "Only Adoptra may ask the store server for this; log in from Adoptra."},
      {wire::kAppStipendo, query("not json"), kUnreadable},
      {wire::kAppStipendo, query(R"({"student_id":"S100200"})"), kUnreadable},
      {wire::kAppStipendo, query(R"({"request":"drop_everything"})"),
       "The store server does not know this request; it may be older than the program. Tell the back office."},
      {wire::kAppStipendo, query(R"({"request":"aid_accounts","student_id":100200})"), kUnreadable},
      {wire::kAppStipendo, query(aidAccounts(std::string(21, '1'))), "A student ID has at most 20 characters."},
      {wire::kAppStipendo, query(aidAccounts("   ")), "Enter a student ID."},
      {wire::kAppStipendo, query(aidAccounts("1';DROP TABLE users")), "No student with ID 1';DROP TABLE users."},
      {wire::kAppStipendo, query(aidAccounts("S100\r200")),
       "The student ID holds a line break or another control character."},
      {wire::kAppStipendo, query(aidAccounts("S100200"), wire::kPacketNewItem), kUnreadable},
      {wire::kAppStipendo, query(sessions("buyer", "buyer1", 1)), onlySellin},
      {wire::kAppStipendo, query(wire::requests::ticket("buyer", "", 1)), onlySellin},
      {wire::kAppStipendo, query(aidAccounts("S100200")), "1 record"},  // a good one among them
  };
  for (int app : {wire::kAppSellin, wire::kAppStipendo}) {
    std::vector<wire::Query> queries;
    std::vector<std::string> expected;
    for (const auto& [from, q, sentence] : cases) {
      if (from != app) continue;
      queries.push_back(q);
      expected.push_back(sentence);
    }
    const auto replies = exchange(app, login(app, "clerk", "clerk1"), queries);
    ASSERT_EQ(replies.size(), queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i) {
      const wire::Reply& r = replies[i];
      const auto found = r.error ? std::vector<std::string>{} : rows(r, wire::layouts::aidAccount(), {"student_id"});
      EXPECT_EQ(r.error ? r.text : std::to_string(found.size()) + " record", expected[i]) << queries[i].text;
    }
  }
  for (const char* reason : {"not valid JSON", "unknown request drop_everything", "came with packet type 0",
                             "sl_ticket sent by a log-in of program 2"})
    EXPECT_NE(lastLogLine().find(reason), std::string::npos) << reason << " not in " << lastLogLine();
  EXPECT_EQ(sideConnection()->query("SELECT ticket_id FROM tickets").size(), 0u) << "another program's write ran";
  for (const char* user : {"' OR 1=1 --", "buyer' --"})
    EXPECT_EQ(loginAnswer(wire::kAppSellin, user, "' OR '1'='1").status, 401) << user;
  EXPECT_EQ(loginAnswer(wire::kAppStipendo, "clerk", "clerk1").status, 200) << "users is not intact";
}

TEST_F(Hostile, OversizedOrBrokenRequestsGetTheirStatusAndExpectContinueIsAnswered) {
  const Answer big = post(std::string(wire::kExchangePath), std::string(2 * 1024 * 1024, 'x'));
  EXPECT_EQ(big.status, 413) << big.body.substr(0, 200);
  EXPECT_EQ(big.sentence(), "The request's body is larger than 524288 bytes.");

  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"POST /v1/exchange HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999\r\nExpect: 100-continue\r\n\r\n", 413,
       "The request's body is larger than 524288 bytes."},
      {"GET /v1/health HTTP/1.1\r\nHost: x\r\nX-Filler: " + std::string(16 * 1024, 'h') + "\r\n\r\n", 431,
       "The request's header is larger than 8192 bytes."},
      {"HELLO THERE\r\n\r\n", 400, "The request is not valid HTTP."},
  };
  for (const auto& [request, status, expected] : cases) {
    RawConnection raw(port_);
    ASSERT_TRUE(raw.send(request)) << expected;
    const Answer a = raw.readResponse();
    EXPECT_EQ(a.status, status) << a.body;
    EXPECT_EQ(a.sentence(), expected);
    EXPECT_TRUE(raw.closedByServer()) << expected << ": connection left open";
  }
  // The server goes on: a body within the limit gets its 100 Continue, and the connection stays alive.
  const std::string body = wire::toJson(wire::LoginRequest{wire::kAppSellin, "clerk", "clerk1"});
  RawConnection raw(port_);
  ASSERT_TRUE(raw.send("POST /v1/login HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\nExpect: 100-continue\r\n\r\n"));
  ASSERT_EQ(raw.readResponse().status, 100);
  ASSERT_TRUE(raw.send(body));
  const Answer a = raw.readResponse();
  EXPECT_EQ(a.status, 200) << a.body;
  ASSERT_TRUE(raw.send("GET /v1/health HTTP/1.1\r\nHost: x\r\n\r\n"));
  EXPECT_EQ(raw.readResponse().status, 200) << "the connection was not kept alive";
}

// How often a part stands in a log line once its quoted texts are emptied: a client's text cannot forge a field.
int countOutsideQuotes(const std::string& line, const std::string& part) {
  const std::string rest = std::regex_replace(line, std::regex(R"("(\\.|[^"\\])*")"), "\"\"");
  int n = 0;
  for (std::size_t at = 0; (at = rest.find(part, at)) != std::string::npos; ++at) ++n;
  return n;
}

TEST_F(Hostile, ClientTextsInTheLogCannotForgeAField) {
  EXPECT_EQ(loginAnswer(wire::kAppStipendo, "clerk app=0 outcome=ok \"ms=-1 \\", "x").status, 401);
  const std::string line = lastLogLine();
  const std::pair<std::string, int> loginParts[] = {{" user=", 1}, {" app=", 1},       {" outcome=", 1},
                                                    {" ms=", 1},   {" outcome=ok", 0}, {" ms=-1", 0}};
  for (const auto& [part, times] : loginParts)
    EXPECT_EQ(countOutsideQuotes(line, part), times) << part << " in " << line;

  exchange(wire::kAppStipendo, login(wire::kAppStipendo, "clerk", "clerk1"),
           {query(nlohmann::json{{"request", "x outcome=ok user=\"boss\""}}.dump())});
  const std::string exchanged = lastLogLine();
  EXPECT_NE(exchanged.find(R"( user="clerk" )"), std::string::npos) << exchanged;
  EXPECT_NE(exchanged.find(R"( problems="unknown request x outcome=ok user=\"boss\"")"), std::string::npos)
      << exchanged;
  const std::pair<std::string, int> exchangeParts[] = {{" user=", 1}, {" outcome=1-of-1-failed ", 1}, {" outcome=", 1}};
  for (const auto& [part, times] : exchangeParts)
    EXPECT_EQ(countOutsideQuotes(exchanged, part), times) << part << " in " << exchanged;
}

// Lines of several threads gathered by the log thread: when the logger is gone,
// every line is in the file, whole, each thread's in the order given.
TEST(Log, EveryLineGivenIsWrittenWholeByTheTimeTheLoggerStops) {
  TempDir dir;
  const std::string path = (dir.path() / "server.log").string();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  constexpr int kThreads = 4, kLines = 5000;  // more than the logger holds for a slow descriptor
  {
    storeserver::Logger log(nullptr, fd);
    const auto writeLines = [&log](int t, int lines) {
      for (int i = 0; i < lines; ++i)
        log.write(std::to_string(t) + " " + std::to_string(i) + " " + std::string(100, '='));
    };
    std::vector<std::jthread> threads;
    for (int t = 1; t < kThreads; ++t) threads.emplace_back(writeLines, t, kLines);
    threads.clear();
    writeLines(0, 1);  // just before the stop: still waiting for the log thread then
  }
  ::close(fd);
  std::ifstream in(path);
  std::vector<int> next(kThreads, 0);
  for (std::string line; std::getline(in, line);) {
    int thread = -1, number = -1;
    std::istringstream(line) >> thread >> number;
    ASSERT_TRUE(thread >= 0 && thread < kThreads && line.ends_with(" " + std::string(100, '='))) << line;
    ASSERT_EQ(number, next[thread]++) << line;
  }
  EXPECT_EQ(next, (std::vector<int>{1, kLines, kLines, kLines}));
}

// Idle sockets up to the cap are served, one more refused at once until one of them closes.
TEST_F(Hostile, ConnectionsBeyondTheCapAreRefusedAtOnceUntilOneCloses) {
  storeserver::ServerOptions o = options();
  o.maxConnections = 3;
  o.maxConnectionsPerAddress = 3;
  start(o);
  const std::string health = "GET /v1/health HTTP/1.1\r\nHost: x\r\n\r\n";
  std::vector<std::unique_ptr<RawConnection>> idle;
  for (int i = 0; i < 3; ++i) idle.push_back(std::make_unique<RawConnection>(port_));

  RawConnection beyond(port_);
  ASSERT_TRUE(beyond.send(health));
  const Answer refused = beyond.readResponse();
  EXPECT_EQ(refused.status, 503) << refused.body;
  EXPECT_EQ(refused.sentence(), "The store server has too many connections open; try again in a moment.");
  EXPECT_TRUE(beyond.closedByServer());
  ASSERT_TRUE(idle.front()->send(health));
  EXPECT_EQ(idle.front()->readResponse().status, 200) << "a connection within the cap was not served";

  idle.pop_back();
  // The server learns of the close a moment later; until then it may refuse.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  Answer a = get("/v1/health");
  while (a.status == 503 && std::chrono::steady_clock::now() < deadline) a = get("/v1/health");
  EXPECT_EQ(a.status, 200) << a.body;
}

// A client that stops halfway through its request, or stays silent after its
// answer, is let go; one that keeps talking is not. Time is moved, not waited for.
TEST_F(Hostile, ConnectionsIdleBeyondTheirTimeAreClosedAndBusyOnesKept) {
  using namespace std::chrono_literals;
  using SteadyClock = std::chrono::steady_clock;
  const auto now = std::make_shared<std::atomic<SteadyClock::rep>>(0);
  const auto advance = [now](SteadyClock::duration by) { *now += by.count(); };
  storeserver::ServerOptions o = options();
  o.idleTimeout = 60s;
  // One I/O thread serves the connections' events in order, so the others'
  // last deadlines are set before busy's first request, however late a
  // thread runs: none can come after the clock has moved on.
  o.ioThreads = 1;
  o.idleClock = [now] { return SteadyClock::time_point(SteadyClock::duration(now->load())); };
  start(o);
  const std::string health = "GET /v1/health HTTP/1.1\r\nHost: x\r\n\r\n";
  RawConnection stalled(port_), silent(port_), busy(port_);
  ASSERT_TRUE(stalled.send("GET /v1/health HTTP/1.1\r\nHo"));
  ASSERT_TRUE(silent.send(health));
  EXPECT_EQ(silent.readResponse().status, 200);
  // The busy one is used just before each minute runs out; the others wait two.
  for (int minute = 0; minute < 2; ++minute) {
    advance(59s);
    ASSERT_TRUE(busy.send(health));
    ASSERT_EQ(busy.readResponse().status, 200) << "a connection in use was closed in minute " << minute;
  }
  advance(2s);
  EXPECT_TRUE(stalled.closedByServer()) << "a request cut off halfway kept its connection";
  EXPECT_TRUE(silent.closedByServer()) << "an idle connection was kept";
  ASSERT_TRUE(busy.send(health));
  EXPECT_EQ(busy.readResponse().status, 200) << "a connection in use was closed";
}

}  // namespace
}  // namespace servertest
