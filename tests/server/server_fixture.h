#pragma once
// The real server in-process on 127.0.0.1, a demo store in a fresh SQLite or PostgreSQL database, over real HTTP.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "postgres_cluster.h"
#include "server/storage/database.h"
#include "server/store_server.h"
#include "wire/exchange.h"
#include "wire/framing.h"
#include "wire/layouts.h"
#include "wire/requests.h"
#include "wire/text.h"

namespace servertest {

struct Answer {
  int status = 0;  // 0: no answer at all
  std::string body;
  httplib::Headers headers;  // names compared without case; none from a RawConnection
  std::string header(const std::string& name) const { return headers.count(name) ? headers.find(name)->second : ""; }
  // The sentence of an error body.
  std::string sentence() const { return wire::parseErrorBody(body).value_or("(no error body) " + body); }
};

// The named fields of a record without their padding, joined by '|'.
inline std::string fieldsOf(std::u16string_view record, const wire::RecordLayout& layout,
                            std::initializer_list<std::string_view> fields) {
  std::string line;
  for (std::string_view f : fields)
    line += (line.empty() ? "" : "|") + wire::toUtf8(wire::fieldText(record, layout, layout.indexOf(f)));
  return line;
}

// The records of a reply cut as the client cuts them, each checked for its framing; per record fieldsOf.
inline std::vector<std::string> rows(const wire::Reply& reply, const wire::RecordLayout& layout,
                                     std::initializer_list<std::string_view> fields) {
  EXPECT_FALSE(reply.error) << reply.text;
  const std::u16string text = wire::toUtf16(reply.text);
  std::vector<std::string> out;
  for (const wire::RecordSpan& span :
       text.empty() ? std::vector<wire::RecordSpan>{} : wire::cutRecords(text, layout.dataSize())) {
    const std::u16string_view record = std::u16string_view(text).substr(span.offset, span.length);
    EXPECT_TRUE(record.size() == layout.dataSize() && record.ends_with(u"\r")) << "a broken record: " << reply.text;
    out.push_back(fieldsOf(record, layout, fields));
  }
  return out;
}

// The records of a reply that mixes layouts, each cut at its own length as the handheld cuts them.
inline std::vector<std::u16string> records(const wire::Reply& reply) {
  EXPECT_FALSE(reply.error) << reply.text;
  const std::u16string text = wire::toUtf16(reply.text);
  bool malformed = false;
  std::vector<std::u16string> out;
  for (const wire::RecordSpan& span : wire::cutMixedRecords(text, malformed))
    out.push_back(text.substr(span.offset, span.length));
  EXPECT_FALSE(malformed) << reply.text;
  return out;
}

// The lines of a printout, each checked to fit a 42-column printer; the text must end with CR LF.
inline std::vector<std::string> printLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
    EXPECT_TRUE(wire::toUtf16(lines.back()).size() <= 42 && lines.back().find_first_of("\r\n") == std::string::npos)
        << "[" << lines.back() << "]";
  }
  EXPECT_EQ(start, text.size()) << "the printout does not end with CR LF";
  return lines;
}

// A client of the server on 127.0.0.1 at port, waiting for an answer as long as a handheld does.
inline httplib::Client localClient(int port) {
  httplib::Client c("127.0.0.1", port);
  c.set_tcp_nodelay(true);
  c.set_connection_timeout(5);
  c.set_read_timeout(15);
  return c;
}

inline Answer toAnswer(const httplib::Result& result) {
  if (!result) return {0, "no answer: " + httplib::to_string(result.error()), {}};
  return {result->status, result->body, result->headers};
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "storeserver-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary directory");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

enum class Backend { Sqlite, Postgres };

// INSTANTIATE_TEST_SUITE_P(Backends, Suite, kBothBackends, backendName): Suite.Case/Sqlite and /Postgres.
inline const auto kBothBackends = ::testing::Values(Backend::Sqlite, Backend::Postgres);
inline std::string backendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
}

// A fresh database for one test: an SQLite file in dir, or a PostgreSQL database of its own (a copy of the
// demo store when asked for). Check backendMissing() first.
class TestDatabase {
 public:
  using Contents = PostgresDatabase::Contents;
  TestDatabase(Backend backend, const std::filesystem::path& dir, Contents contents)
      : postgres_(backend == Backend::Postgres ? std::make_unique<PostgresDatabase>(contents) : nullptr),
        name_(postgres_ ? postgres_->uri() : (dir / "store.db").string()) {}
  // A database made by the test itself, by what --database takes.
  explicit TestDatabase(std::string name) : name_(std::move(name)) {}
  // What --database takes.
  const std::string& name() const { return name_; }

 private:
  std::unique_ptr<PostgresDatabase> postgres_;
  std::string name_;
};

// Empty when the backend can run on this machine, else why not.
inline std::string backendMissing(Backend backend) {
  return backend == Backend::Postgres ? PostgresCluster::unavailable() : "";
}

inline wire::Query query(std::string text, int packet = wire::kPacketQuery) { return {packet, std::move(text), -1}; }

// Another update identity at each call, as a handheld makes one per change.
inline std::string newUpdateId() {
  static std::atomic<long long> made{0};
  return "00000000-0000-4000-8000-" + std::to_string(100000000000 + ++made);
}

// One ticket line as a handheld sends it; by default a copy Ostrand Company buys in walk-in session 1002.
struct LineArgs {
  std::int64_t line = 1;
  std::string purchaser = "Ostrand Company";
  std::int64_t session = 1002;
  std::string itemId = "B0000001";
  std::int64_t qty = 1;
  std::string price = "12.50";
};
inline std::string itemText(const std::string& receipt, const LineArgs& a = {}) {
  return wire::requests::ticketItem(newUpdateId(), receipt, a.line, a.purchaser, a.session, a.itemId, a.qty, a.price);
}

class ServerTest : public ::testing::Test {
 protected:
  explicit ServerTest(Backend backend = Backend::Sqlite) : backend_(backend) {}

  // Demo data, libsodium's minimum Argon2 cost, two I/O threads, two workers, two password checkers.
  virtual storeserver::ServerOptions options() const {
    storeserver::ServerOptions o;
    o.port = 0;
    o.databasePath = database_->name();
    o.seedDemo = true;
    o.ioThreads = o.workerThreads = o.authThreads = 2;
    o.passwordCost = storeserver::PasswordCost::minimum();
    o.logSink = [log = log_](std::string_view line) {
      std::lock_guard lock(log->mutex);
      log->lines.emplace_back(line);
    };
    return o;
  }
  void SetUp() override {
    if (const std::string why = backendMissing(backend_); !why.empty()) GTEST_SKIP() << why;
    database_.emplace(backend_, dir_.path(), TestDatabase::Contents::DemoStore);
    start(options());
  }
  // Stops any running server and starts one with these options.
  void start(const storeserver::ServerOptions& o) {
    server_.reset();
    std::string error;
    server_ = storeserver::StoreServer::start(o, error);
    ASSERT_TRUE(server_) << error;
    port_ = server_->port();
  }

  // port 0: the test's server; another port for a second server, so that threads need not share port_.
  Answer post(const std::string& path, const std::string& body, const char* type = "application/json",
              int port = 0) const {
    return toAnswer(client(port).Post(path.c_str(), body, type));
  }
  Answer get(const std::string& path) const { return toAnswer(client().Get(path.c_str())); }
  Answer loginAnswer(int app, const std::string& user, const std::string& password) const {
    return post(std::string(wire::kLoginPath), wire::toJson(wire::LoginRequest{app, user, password}));
  }
  Answer exchangeAnswer(int app, const std::string& token, const std::vector<wire::Query>& queries,
                        int port = 0) const {
    return post(std::string(wire::kExchangePath), wire::toJson(wire::ExchangeRequest{app, token, queries}),
                "application/json", port);
  }
  // These record a failure (and give an empty result) unless the answer is 200.
  std::string login(int app, const std::string& user, const std::string& password) const {
    const Answer a = loginAnswer(app, user, password);
    std::string error;
    const auto reply = wire::parseLoginReply(a.body, error);
    if (a.status == 200 && reply) return reply->token;
    ADD_FAILURE() << "log-in of " << user << " answered " << a.status << ": " << a.body;
    return {};
  }
  std::vector<wire::Reply> exchange(int app, const std::string& token, const std::vector<wire::Query>& queries,
                                    int port = 0) const {
    const Answer a = exchangeAnswer(app, token, queries, port);
    std::string error;
    const auto reply = wire::parseExchangeReply(a.body, error);
    if (a.status == 200 && reply && reply->replies.size() == queries.size()) return reply->replies;
    ADD_FAILURE() << "exchange answered " << a.status << ": " << a.body;
    return {};
  }
  // The reply to one query, an error reply when none came.
  wire::Reply askWith(int app, const std::string& token, const wire::Query& q, int port = 0) const {
    const auto replies = exchange(app, token, {q}, port);
    return replies.empty() ? wire::Reply{true, "(no reply)", 0, -1} : replies[0];
  }
  // A Sellin log-in as a handheld makes it: user logs in, then proves a buyer by asking for the store's
  // sessions with the buyer's password. Records a failure unless both pass.
  std::string buyingLogin(const std::string& user, const std::string& password, const std::string& buyer = "buyer",
                          const std::string& buyerPassword = "buyer1", std::int64_t store = 1) const {
    const std::string token = login(wire::kAppSellin, user, password);
    const wire::Reply sessions =
        askWith(wire::kAppSellin, token, query(wire::requests::sessions(buyer, buyerPassword, store)));
    EXPECT_FALSE(sessions.error) << user << " proving " << buyer << ": " << sessions.text;
    return token;
  }
  // One query, sent after a fresh log-in of clerk in the program.
  wire::Reply ask(const std::string& text, int app = wire::kAppStipendo) const {
    return askWith(app, login(app, "clerk", "clerk1"), query(text));
  }
  // A Sellin request on this log-in: "ok" when the server took it, else its sentence.
  std::string sellin(const std::string& token, const std::string& text, int packet = wire::kPacketQuery,
                     int port = 0) const {
    const wire::Reply r = askWith(wire::kAppSellin, token, query(text, packet), port);
    return r.error ? r.text : "ok";
  }
  // The receipt of the ticket this log-in opens for the buyer at store 1; records a failure when refused.
  std::string openTicket(const std::string& token, const std::string& student = "") const {
    const auto r = rows(askWith(wire::kAppSellin, token, query(wire::requests::ticket("buyer", student, 1))),
                        wire::layouts::receipt(), {"receipt"});
    return r.size() == 1 ? r[0] : "";
  }

  // A connection of our own to the server's database, as an administrator's: a read-only session will do.
  std::unique_ptr<storeserver::storage::Connection> sideConnection() const {
    const std::string& name = database_->name();
    return openDatabase(name.starts_with("postgresql://") ? name + "?target_session_attrs=any" : name);
  }
  // The first column of each row, which the query gives as text.
  std::vector<std::string> texts(const std::string& sql) const {
    std::vector<std::string> out;
    for (const auto& r : sideConnection()->query(sql)) out.push_back(storeserver::storage::textAt(r, 0));
    return out;
  }
  std::vector<std::string> logLines() const {
    std::lock_guard lock(log_->mutex);
    return log_->lines;
  }
  // Whether any log line holds the text.
  bool logged(std::string_view text) const {
    const auto lines = logLines();
    return std::ranges::any_of(lines, [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }
  std::string lastLogLine() const {
    const auto lines = logLines();
    return lines.empty() ? "" : lines.back();
  }

  const Backend backend_;
  TempDir dir_;
  std::optional<TestDatabase> database_;  // outlives the server
  std::unique_ptr<storeserver::StoreServer> server_;
  int port_ = 0;

 private:
  httplib::Client client(int port = 0) const { return localClient(port ? port : port_); }
  struct Log {
    std::mutex mutex;
    std::vector<std::string> lines;
  };
  std::shared_ptr<Log> log_ = std::make_shared<Log>();
};

// ServerTest on the backend a TEST_P names; instantiate with kBothBackends.
class BackendServerTest : public ServerTest, public ::testing::WithParamInterface<Backend> {
 protected:
  BackendServerTest() : ServerTest(GetParam()) {}
};

// A plain TCP connection to 127.0.0.1, for what an HTTP client library will not send; from another loopback
// address (127.0.0.N) when asked, as another machine would connect.
class RawConnection {
 public:
  explicit RawConnection(int port, std::uint8_t fromHost = 1) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in from{AF_INET, 0, {htonl(INADDR_LOOPBACK - 1 + fromHost)}, {}};
    sockaddr_in address{AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      ADD_FAILURE() << "cannot connect";
  }
  ~RawConnection() { ::close(fd_); }
  bool send(std::string_view bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
  }
  // One response (Content-Length bodies only), status 0 when none came within 5 s.
  Answer readResponse() {
    std::size_t end, field;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos)
      if (!fill()) return {};
    Answer a{std::atoi(buffer_.c_str() + 9), {}, {}};
    field = buffer_.find("Content-Length: ");
    const std::size_t length = field < end ? std::stoul(buffer_.substr(field + 16)) : 0;
    while (buffer_.size() < end + 4 + length)
      if (!fill()) return {};
    a.body = buffer_.substr(end + 4, length);
    buffer_.erase(0, end + 4 + length);
    return a;
  }
  bool closedByServer() {  // within 5 s
    pollfd p{fd_, POLLIN, 0};
    char c;
    return ::poll(&p, 1, 5000) > 0 && ::recv(fd_, &c, 1, 0) <= 0;
  }

 private:
  bool fill() {
    pollfd p{fd_, POLLIN, 0};
    char chunk[4096];
    const ssize_t n = ::poll(&p, 1, 5000) > 0 ? ::recv(fd_, chunk, sizeof chunk, 0) : -1;
    if (n > 0) buffer_.append(chunk, std::size_t(n));
    return n > 0;
  }
  int fd_;
  std::string buffer_;
};

}  // namespace servertest
