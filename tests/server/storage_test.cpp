// Storage, migrations, demo seeding, start-up failures and option reading.
#include <fstream>

#include "server/command_line.h"
#include "server/demo_data.h"
#include "server/storage/migrations.h"
#include "server/storage/sqlite_storage.h"
#include "server_fixture.h"

namespace servertest {
namespace {

namespace storage = storeserver::storage;

std::unique_ptr<storage::Connection> open(const std::filesystem::path& path) {
  std::string error;
  auto db = storage::openSqlite(path.string(), error);
  if (!db) throw std::runtime_error(error);
  return db;
}

TEST(Storage, MigrationsRunOnceKeepTheDataAndRefuseANewerDatabase) {
  TempDir dir;
  auto db = open(dir.path() / "store.db");
  storage::migrate(*db);
  db->execute("INSERT INTO stores (store_num, name) VALUES (?, ?)", {std::int64_t(7), std::string("Seven")});
  storage::migrate(*open(dir.path() / "store.db"));
  const auto versions = db->query("SELECT version FROM schema_version");
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(storage::integerAt(versions[0], 0), storage::currentSchemaVersion());
  EXPECT_EQ(db->query("SELECT name FROM stores").size(), 1u);

  db->execute("UPDATE schema_version SET version = 99");
  storeserver::ServerOptions o;
  o.port = 0;
  o.databasePath = (dir.path() / "store.db").string();
  std::string error;
  EXPECT_FALSE(storeserver::StoreServer::start(o, error));
  EXPECT_NE(error.find("schema version 99, newer than"), std::string::npos) << error;
}

TEST(Storage, ReadsRefuseNullsAndWrongTypesAndFailuresLeaveTheConnectionUsable) {
  TempDir dir;
  auto db = open(dir.path() / "store.db");
  const auto rows = db->query("SELECT NULL, 'x', ?", {std::int64_t(-3)});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_THROW(storage::integerAt(rows[0], 0), storage::Error);
  EXPECT_THROW(storage::textAt(rows[0], 0), storage::Error);
  EXPECT_THROW(storage::integerAt(rows[0], 1), storage::Error);
  EXPECT_THROW(storage::textAt(rows[0], 2), storage::Error);
  EXPECT_THROW(storage::integerAt(rows[0], 3), storage::Error);
  EXPECT_EQ(storage::integerAt(rows[0], 2), -3);

  EXPECT_THROW(db->query("SELECT ?", {}), storage::Error);
  EXPECT_THROW(db->query("SELECT nothing FROM nowhere"), storage::Error);
  EXPECT_THROW(db->execute("SELECT 1; SELECT 2"), storage::Error);
  EXPECT_EQ(db->query("SELECT 1").size(), 1u);
}

TEST(Storage, UncommittedWriteIsRolledBack) {
  TempDir dir;
  auto db = open(dir.path() / "store.db");
  storage::migrate(*db);
  try {
    storage::Transaction tx(*db, storage::TxMode::Write);
    db->execute("INSERT INTO stores (store_num, name) VALUES (1, 'One')");
    db->execute("INSERT INTO stores (store_num, name) VALUES (1, 'Twice')");
    ADD_FAILURE() << "a second store 1 was accepted";
  } catch (const storage::Error& e) {
    EXPECT_NE(std::string(e.what()).find("UNIQUE"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(db->query("SELECT store_num FROM stores").empty());
}

std::vector<std::string> dump(storage::Connection& db) {
  std::vector<std::string> lines;
  for (const char* table : {"stores", "locations", "buying_sessions", "students", "aid_agencies", "aid_accounts"})
    for (const auto& row : db.query("SELECT * FROM " + std::string(table) + " ORDER BY 1")) {
      std::string line = table;
      for (const auto& v : row)
        line += "|" + (std::holds_alternative<std::int64_t>(v) ? std::to_string(std::get<std::int64_t>(v))
                                                               : std::get<std::string>(v));
      lines.push_back(line);
    }
  for (const auto& row : db.query("SELECT user_id, user_name, store_num, can_buy, active FROM users ORDER BY 1"))
    lines.push_back("users|" + storage::textAt(row, 1) + "|" + std::to_string(storage::integerAt(row, 2)) +
                    std::to_string(storage::integerAt(row, 3)) + std::to_string(storage::integerAt(row, 4)));
  return lines;
}

TEST(Demo, SeedingIsDeterministicAndOnlyIntoAnEmptyDatabase) {
  TempDir dir;
  auto a = open(dir.path() / "a.db");
  auto b = open(dir.path() / "b.db");
  storage::migrate(*a);
  storage::migrate(*b);
  const auto cost = storeserver::PasswordCost::minimum();
  ASSERT_TRUE(storeserver::initialiseCrypto());
  EXPECT_TRUE(storeserver::seedDemoData(*a, cost));
  EXPECT_TRUE(storeserver::seedDemoData(*b, cost));
  const auto first = dump(*a);
  EXPECT_GT(first.size(), 30u);
  EXPECT_EQ(first, dump(*b));
  EXPECT_FALSE(storeserver::seedDemoData(*a, cost));
  EXPECT_EQ(first, dump(*a));
  for (const auto& h : a->query("SELECT password_hash FROM users"))
    EXPECT_TRUE(storage::textAt(h, 0).starts_with("$argon2id$")) << storage::textAt(h, 0);
}

TEST(StoreServerStart, ReportsWhatStopsItAsASentence) {
  TempDir dir;
  storeserver::ServerOptions o;
  o.port = 0;
  o.ioThreads = 1;
  o.workerThreads = 1;
  std::string error;
  o.databasePath = (dir.path() / "no" / "such" / "store.db").string();
  EXPECT_FALSE(storeserver::StoreServer::start(o, error));
  EXPECT_TRUE(error.starts_with("Cannot open the database file " + o.databasePath)) << error;

  o.databasePath = (dir.path() / "store.db").string();
  o.address = "not-an-address";
  EXPECT_FALSE(storeserver::StoreServer::start(o, error));
  EXPECT_EQ(error, "The listen address not-an-address is not an IP address.");

  o.address = "127.0.0.1";
  auto first = storeserver::StoreServer::start(o, error);
  ASSERT_TRUE(first) << error;
  o.port = first->port();
  EXPECT_FALSE(storeserver::StoreServer::start(o, error));
  EXPECT_TRUE(error.starts_with("Cannot listen on 127.0.0.1:" + std::to_string(o.port) + ": ")) << error;
}

TEST(CommandLine, ConfigurationFileIsReadAndTheCommandLineWins) {
  TempDir dir;
  const std::string config = (dir.path() / "server.conf").string();
  std::ofstream(config) << "# comment\n\naddress = 0.0.0.0\nport=9000\n database = /srv/store.db \ndemo = no\n"
                           "workers = 3\nio-threads = 4\ntoken-hours = 8\n";
  std::string error;
  const auto line = storeserver::parseCommandLine({"--port", "0", "--config", config, "--demo", "--workers=5"}, error);
  ASSERT_TRUE(line) << error;
  const auto& o = line->options;
  EXPECT_EQ(o.address + " " + std::to_string(o.port) + " " + o.databasePath, "0.0.0.0 0 /srv/store.db");
  EXPECT_TRUE(o.seedDemo);
  EXPECT_EQ(o.workerThreads, 5u);
  EXPECT_EQ(o.ioThreads, 4u);
  EXPECT_EQ(o.tokenLifetime, std::chrono::hours(8));
}

TEST(CommandLine, MistakesAreNamed) {
  TempDir dir;
  const std::string config = (dir.path() / "bad.conf").string();
  std::ofstream(config) << "port = 80\nthreads = 2\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--port", "65536"}, "\"port\" must be a port number"},
      {{"--port", "80x"}, "\"port\" must be a port number"},
      {{"--workers", "0"}, "\"workers\" must be a number from 1"},
      {{"--port"}, "Option --port needs a value."},
      {{"serve"}, "Unexpected argument \"serve\"."},
      {{"--demo=maybe"}, "\"demo\" must be yes or no"},
      {{"--config", config}, config + " line 2: Unknown option \"threads\"."},
      {{"--config", (dir.path() / "none.conf").string()}, "Cannot read the configuration file"},
  };
  for (const auto& [args, expected] : cases) {
    std::string error;
    EXPECT_FALSE(storeserver::parseCommandLine(args, error)) << args[0];
    EXPECT_NE(error.find(expected), std::string::npos) << args[0] << " -> " << error;
  }
}

}  // namespace
}  // namespace servertest
