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
  std::string header(const std::string& lowerName) const {
    const auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
  }
  // The sentence of an error body.
  std::string sentence() const { return wire::parseErrorBody(body).value_or("(no error body) " + body); }
};

// One record cut from a reply as the client cuts it; fields without their padding.
struct Record {
  std::u16string text;
  const wire::RecordLayout* layout;
  std::string field(std::string_view name) const;
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

wire::Query query(std::string text, int packet = wire::kPacketQuery);

class ServerTest : public ::testing::Test {
 protected:
  // Demo data, libsodium's minimum Argon2 cost, two I/O threads, two workers.
  storeserver::ServerOptions options() const;
  void SetUp() override { start(options()); }
  // Stops any running server and starts one with these options.
  void start(const storeserver::ServerOptions& options);

  std::unique_ptr<httplib::Client> client() const;
  Answer post(const std::string& path, const std::string& body) const;
  Answer get(const std::string& path) const;
  Answer loginAnswer(int app, const std::string& user, const std::string& password) const;
  Answer exchangeAnswer(int app, const std::string& token, const std::vector<wire::Query>& queries) const;
  // These record a failure (and give an empty result) unless the answer is 200.
  std::string login(int app, const std::string& user, const std::string& password) const;
  std::vector<wire::Reply> exchange(int app, const std::string& token, const std::vector<wire::Query>& queries) const;
  // One query, sent after a fresh log-in of clerk in Stipendo.
  wire::Reply ask(const std::string& text) const;

  // A connection of our own to the server's database, as an administrator's.
  std::unique_ptr<storeserver::storage::Connection> sideConnection() const;
  std::vector<std::string> logLines() const;

  TempDir dir_;
  std::unique_ptr<storeserver::StoreServer> server_;
  int port_ = 0;

 private:
  struct Log {
    std::mutex mutex;
    std::vector<std::string> lines;
  };
  std::shared_ptr<Log> log_ = std::make_shared<Log>();
};

// A plain TCP connection to 127.0.0.1, for what an HTTP client library will not send.
class RawConnection {
 public:
  explicit RawConnection(int port);
  ~RawConnection();
  bool send(std::string_view bytes);
  // One response (Content-Length bodies only), status 0 when none came within 5 s.
  Answer readResponse();
  bool closedByServer();  // within 5 s

 private:
  bool fill();
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace servertest
