#include "server_fixture.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "server/storage/sqlite_storage.h"
#include "wire/framing.h"
#include "wire/text.h"

namespace servertest {

namespace {
std::string lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}
}  // namespace

std::string Record::field(std::string_view name) const {
  return wire::toUtf8(wire::fieldText(text, *layout, layout->indexOf(name)));
}

std::vector<Record> cut(const std::string& reply, const wire::RecordLayout& layout) {
  const std::u16string text = wire::toUtf16(reply);
  std::vector<Record> records;
  if (!text.empty())
    for (const wire::RecordSpan& span : wire::cutRecords(text, layout.dataSize()))
      records.push_back({text.substr(span.offset, span.length), &layout});
  return records;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "storeserver-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary directory");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

wire::Query query(std::string text, int packet) { return {packet, std::move(text), -1}; }

storeserver::ServerOptions ServerTest::options() const {
  storeserver::ServerOptions o;
  o.port = 0;
  o.databasePath = (dir_.path() / "store.db").string();
  o.seedDemo = true;
  o.ioThreads = 2;
  o.workerThreads = 2;
  o.passwordCost = storeserver::PasswordCost::minimum();
  o.logSink = [log = log_](std::string_view line) {
    std::lock_guard lock(log->mutex);
    log->lines.emplace_back(line);
  };
  return o;
}

void ServerTest::start(const storeserver::ServerOptions& o) {
  server_.reset();
  std::string error;
  server_ = storeserver::StoreServer::start(o, error);
  ASSERT_TRUE(server_) << error;
  port_ = server_->port();
}

std::unique_ptr<httplib::Client> ServerTest::client() const {
  auto c = std::make_unique<httplib::Client>("127.0.0.1", port_);
  c->set_tcp_nodelay(true);
  c->set_connection_timeout(5);
  c->set_read_timeout(10);
  return c;
}

namespace {
Answer toAnswer(const httplib::Result& result) {
  if (!result) return {0, "no answer: " + httplib::to_string(result.error()), {}};
  Answer a{result->status, result->body, {}};
  for (const auto& [name, value] : result->headers) a.headers[lower(name)] = value;
  return a;
}
}  // namespace

Answer ServerTest::post(const std::string& path, const std::string& body) const {
  return toAnswer(client()->Post(path.c_str(), body, "application/json"));
}

Answer ServerTest::get(const std::string& path) const { return toAnswer(client()->Get(path.c_str())); }

Answer ServerTest::loginAnswer(int app, const std::string& user, const std::string& password) const {
  return post(std::string(wire::kLoginPath), wire::toJson(wire::LoginRequest{app, user, password}));
}

Answer ServerTest::exchangeAnswer(int app, const std::string& token, const std::vector<wire::Query>& queries) const {
  return post(std::string(wire::kExchangePath), wire::toJson(wire::ExchangeRequest{app, token, queries}));
}

std::string ServerTest::login(int app, const std::string& user, const std::string& password) const {
  const Answer a = loginAnswer(app, user, password);
  std::string error;
  const auto reply = wire::parseLoginReply(a.body, error);
  if (a.status == 200 && reply) return reply->token;
  ADD_FAILURE() << "log-in of " << user << " answered " << a.status << ": " << a.body;
  return {};
}

std::vector<wire::Reply> ServerTest::exchange(int app, const std::string& token,
                                              const std::vector<wire::Query>& queries) const {
  const Answer a = exchangeAnswer(app, token, queries);
  std::string error;
  const auto reply = wire::parseExchangeReply(a.body, error);
  if (a.status == 200 && reply && reply->replies.size() == queries.size()) return reply->replies;
  ADD_FAILURE() << "exchange answered " << a.status << ": " << a.body;
  return {};
}

wire::Reply ServerTest::ask(const std::string& text) const {
  const auto replies = exchange(wire::kAppStipendo, login(wire::kAppStipendo, "clerk", "clerk1"), {query(text)});
  return replies.empty() ? wire::Reply{true, "(no reply)", 0, -1} : replies[0];
}

std::unique_ptr<storeserver::storage::Connection> ServerTest::sideConnection() const {
  std::string error;
  auto db = storeserver::storage::openSqlite((dir_.path() / "store.db").string(), error);
  if (!db) throw std::runtime_error(error);
  return db;
}

std::vector<std::string> ServerTest::logLines() const {
  std::lock_guard lock(log_->mutex);
  return log_->lines;
}

RawConnection::RawConnection(int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ADD_FAILURE() << "cannot connect";
}

RawConnection::~RawConnection() { ::close(fd_); }

bool RawConnection::send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(std::size_t(n));
  }
  return true;
}

bool RawConnection::fill() {
  pollfd p{fd_, POLLIN, 0};
  char chunk[4096];
  const ssize_t n = ::poll(&p, 1, 5000) > 0 ? ::recv(fd_, chunk, sizeof chunk, 0) : -1;
  if (n > 0) buffer_.append(chunk, std::size_t(n));
  return n > 0;
}

Answer RawConnection::readResponse() {
  std::size_t end;
  while ((end = buffer_.find("\r\n\r\n")) == std::string::npos)
    if (!fill()) return {};
  Answer a{std::atoi(buffer_.c_str() + 9), {}, {}};
  for (std::size_t at = buffer_.find("\r\n") + 2; at < end + 2;) {
    const std::size_t eol = buffer_.find("\r\n", at);
    const std::string line = buffer_.substr(at, eol - at);
    at = eol + 2;
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    a.headers[lower(line.substr(0, colon))] = value;
  }
  const std::size_t length = std::stoul("0" + a.header("content-length"));
  while (buffer_.size() < end + 4 + length)
    if (!fill()) return {};
  a.body = buffer_.substr(end + 4, length);
  buffer_.erase(0, end + 4 + length);
  return a;
}

bool RawConnection::closedByServer() {
  pollfd p{fd_, POLLIN, 0};
  char c;
  return ::poll(&p, 1, 5000) > 0 && ::recv(fd_, &c, 1, 0) <= 0;
}

}  // namespace servertest
