#include "postgres_cluster.h"

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "server/auth.h"
#include "server/demo_data.h"
#include "server/storage/migrations.h"

namespace servertest {

namespace {

const std::filesystem::path kBin = "/usr/lib/postgresql/15/bin";

bool asRoot() { return ::geteuid() == 0; }

// A port nobody listens on right now.
int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  ::close(fd);
  if (!ok) throw std::runtime_error("no free port for PostgreSQL");
  return ntohs(address.sin_port);
}

std::string fileText(const std::filesystem::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

PostgresCluster& sharedCluster() {
  static const std::unique_ptr<PostgresCluster> cluster = [] {
    const char* kept = std::getenv("STORESERVER_TEST_POSTGRES_DIR");
    auto attached = kept ? PostgresCluster::attachKept(kept) : nullptr;
    return attached ? std::move(attached) : std::make_unique<PostgresCluster>();
  }();
  return *cluster;
}

// Seeded once per cluster by the first test process, then copied for each test (faster than seeding).
std::string demoStore(PostgresCluster& cluster) {
  const std::string name = "demo_store";
  auto admin = openDatabase(cluster.uri("postgres"));
  admin->query("SELECT pg_advisory_lock(1)");  // held until admin closes
  if (admin->query("SELECT datname FROM pg_database WHERE datname = ?", {name}).empty()) {
    const std::string half = name + "_unfinished";  // what a process that died building it left
    cluster.dropDatabase(half);
    {
      auto db = openDatabase(cluster.createDatabase(half));
      storeserver::storage::migrate(*db);
      if (!storeserver::initialiseCrypto()) throw std::runtime_error("the password library cannot start");
      storeserver::seedDemoData(*db, storeserver::PasswordCost::minimum());
    }
    admin->execute("ALTER DATABASE " + half + " RENAME TO " + name);
  }
  return name;
}

}  // namespace

std::unique_ptr<storeserver::storage::Connection> openDatabase(const std::string& database) {
  std::string error;
  auto db = storeserver::storage::openDatabase(database, error);
  if (!db) throw std::runtime_error(error);
  return db;
}

std::string PostgresCluster::unavailable() {
  if (!std::filesystem::exists(kBin / "initdb"))
    return "PostgreSQL 15's server programs are not installed in " + kBin.string();
  if (asRoot() && !::getpwnam("postgres")) return "there is no postgres user to run PostgreSQL as";
  return {};
}

PostgresCluster::PostgresCluster() : port_(freePort()) {
  std::string pattern = (std::filesystem::temp_directory_path() / "storeserver-pg-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a directory for PostgreSQL");
  dir_ = pattern;
  start();
}

PostgresCluster::~PostgresCluster() {
  if (kept_) return;
  try {
    run(pgCtl() + " -w -m immediate stop >/dev/null 2>&1");
  } catch (const std::exception&) {
    // Already gone: nothing left to stop.
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void PostgresCluster::startKept(const std::filesystem::path& dir) {
  stopKept(dir);
  std::filesystem::create_directories(dir);
  PostgresCluster cluster(dir, freePort(), true);
  cluster.start();
  std::ofstream(dir / "port") << cluster.port_;
}

void PostgresCluster::stopKept(const std::filesystem::path& dir) {
  if (!std::filesystem::exists(dir / "data")) return;
  const PostgresCluster ending(dir, 0, false);  // stopped and removed as it goes
}

std::unique_ptr<PostgresCluster> PostgresCluster::attachKept(const std::filesystem::path& dir) {
  int port = 0;
  if (!(std::ifstream(dir / "port") >> port)) return nullptr;
  return std::unique_ptr<PostgresCluster>(new PostgresCluster(dir, port, true));
}

void PostgresCluster::start() {
  if (asRoot()) {
    const passwd* owner = ::getpwnam("postgres");
    if (!owner || ::chown(dir_.c_str(), owner->pw_uid, owner->pw_gid) != 0)
      throw std::runtime_error("cannot give " + dir_.string() + " to the postgres user");
  }
  const std::string data = (dir_ / "data").string();
  run((kBin / "initdb").string() + " -D " + data + " -U postgres -A trust -E UTF8 --locale=C --no-sync >" +
      (dir_ / "initdb.log").string() + " 2>&1");
  // Durability is not under test here; fsync off keeps the cluster quick.
  run(pgCtl() + " -w -t 60 -l " + (dir_ / "server.log").string() + " -o '-p " + std::to_string(port_) +
      " -c listen_addresses=127.0.0.1 -k " + dir_.string() + " -c fsync=off -c max_connections=40' start >/dev/null");
}

void PostgresCluster::restart() { run(pgCtl() + " -w -t 60 -m fast restart >/dev/null"); }

std::string PostgresCluster::createDatabase(const std::string& name, const std::string& copyOf) {
  openDatabase(uri("postgres"))->execute("CREATE DATABASE " + name + " TEMPLATE " + copyOf);
  return uri(name);
}

void PostgresCluster::dropDatabase(const std::string& name) {
  auto admin = openDatabase(uri("postgres"));
  // A connection a failed test left open must not keep the database.
  admin->execute("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
}

std::string PostgresCluster::uri(const std::string& database) const {
  return "postgresql://postgres@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

std::string PostgresCluster::pgCtl() const { return (kBin / "pg_ctl").string() + " -D " + (dir_ / "data").string(); }

void PostgresCluster::run(const std::string& command) const {
  const std::string line = asRoot() ? "runuser -u postgres -- sh -c \"" + command + "\"" : command;
  if (std::system(line.c_str()) != 0)
    throw std::runtime_error("PostgreSQL failed: " + command + "\n" + fileText(dir_ / "initdb.log") +
                             fileText(dir_ / "server.log"));
}

PostgresDatabase::PostgresDatabase(Contents contents) {
  // Unique across the test processes sharing one cluster.
  static std::atomic<int> made{0};
  name_ = "store_" + std::to_string(::getpid()) + "_" + std::to_string(++made);
  PostgresCluster& cluster = sharedCluster();
  uri_ = cluster.createDatabase(name_, contents == Contents::DemoStore ? demoStore(cluster) : "template1");
}

PostgresDatabase::~PostgresDatabase() {
  try {
    sharedCluster().dropDatabase(name_);
  } catch (const std::exception&) {
    // The cluster is gone with its databases.
  }
}

}  // namespace servertest
