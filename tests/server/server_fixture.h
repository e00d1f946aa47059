#pragma once
// Starts the real server in-process on 127.0.0.1, port 0, with a demo SQLite
// database in a fresh temporary directory, and talks to it over real HTTP.
#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/store_server.h"
#include "server/storage/storage.h"
#include "wire/exchange.h"
#include "wire/layouts.h"

namespace servertest {

struct Answer {
  int status = 0;  // 0: no answer at all
  std::string body;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string header(std::string name) const;
};

// One record cut from a reply, with its fields read as the client reads them.
struct Record {
  std::u16string text;
  const wire::RecordLayout* layout;
  std::string field(std::string_view name) const;  // trailing padding removed
};
std::vector<Record> cut(const std::string& reply, const wire::RecordLayout& layout);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class ServerTest : public ::testing::Test {
 protected:
  // Demo data, cheap Argon2, two I/O threads and two workers.
  storeserver::ServerOptions options() const;
  void SetUp() override;
  void TearDown() override;
  // Stops any running server and starts one with these options.
  void start(const storeserver::ServerOptions& options);

  std::unique_ptr<httplib::Client> client() const;
  Answer post(const std::string& path, const std::string& body) const;
  Answer get(const std::string& path) const;

  Answer loginAnswer(int app, const std::string& user, const std::string& password) const;
  // The token, or empty after recording a failure.
  std::string login(int app, const std::string& user, const std::string& password) const;
  Answer exchangeAnswer(int app, const std::string& token, const std::vector<wire::Query>& queries) const;
  // The replies of a 200 answer; records a failure (and gives none) otherwise.
  std::vector<wire::Reply> exchange(int app, const std::string& token, const std::vector<wire::Query>& queries) const;
  // One query text, packet type 3, sent with a fresh log-in of clerk in Stipendo.
  wire::Reply ask(const std::string& text) const;

  // A connection of our own to the server's database, as an administrator would use.
  std::unique_ptr<storeserver::storage::Connection> sideConnection() const;

  std::vector<std::string> logLines() const;

  TempDir dir_;
  std::unique_ptr<storeserver::StoreServer> server_;
  int port_ = 0;

 private:
  mutable std::mutex logMutex_;
  std::shared_ptr<std::vector<std::string>> log_ = std::make_shared<std::vector<std::string>>();
};

wire::Query query(std::string text, int packet = wire::kPacketQuery);

// A plain TCP connection for what an HTTP client library will not send.
class RawConnection {
 public:
  explicit RawConnection(int port);
  ~RawConnection();
  bool connected() const { return fd_ >= 0; }
  bool send(std::string_view bytes);
  // Reads one response (status line, headers, Content-Length body) within a few
  // seconds; status 0 when none came.
  Answer readResponse();
  // True when the server closed the connection (within a few seconds).
  bool closedByServer();

 private:
  bool fill();  // reads more into buffer_; false on close, error or timeout
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace servertest
