#include "postgres_cluster.h"

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "server/storage/postgres_storage.h"

namespace servertest {

namespace {

const std::filesystem::path kBin = "/usr/lib/postgresql/15/bin";

bool asRoot() { return ::geteuid() == 0; }

// A port nobody listens on right now.
int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  ::close(fd);
  if (!ok) throw std::runtime_error("no free port for PostgreSQL");
  return ntohs(address.sin_port);
}

std::string fileText(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string PostgresCluster::unavailable() {
  if (!std::filesystem::exists(kBin / "initdb")) return "PostgreSQL 15's server programs are not installed in " + kBin.string();
  if (asRoot() && !::getpwnam("postgres")) return "there is no postgres user to run PostgreSQL as";
  return {};
}

PostgresCluster::PostgresCluster() : port_(freePort()) {
  std::string pattern = (std::filesystem::temp_directory_path() / "storeserver-pg-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a directory for PostgreSQL");
  dir_ = pattern;
  if (asRoot()) {
    const passwd* owner = ::getpwnam("postgres");
    if (!owner || ::chown(dir_.c_str(), owner->pw_uid, owner->pw_gid) != 0)
      throw std::runtime_error("cannot give " + dir_.string() + " to the postgres user");
  }
  const std::string data = (dir_ / "data").string();
  run((kBin / "initdb").string() + " -D " + data + " -U postgres -A trust -E UTF8 --locale=C --no-sync >" +
      (dir_ / "initdb.log").string() + " 2>&1");
  // Durability is not under test here; fsync off keeps the cluster quick.
  run((kBin / "pg_ctl").string() + " -D " + data + " -w -t 60 -l " + (dir_ / "server.log").string() +
      " -o '-p " + std::to_string(port_) + " -c listen_addresses=127.0.0.1 -k " + dir_.string() +
      " -c fsync=off -c max_connections=40' start >/dev/null");
}

PostgresCluster::~PostgresCluster() {
  try {
    run((kBin / "pg_ctl").string() + " -D " + (dir_ / "data").string() + " -w -m immediate stop >/dev/null 2>&1");
  } catch (const std::exception&) {
    // Already gone: nothing left to stop.
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string PostgresCluster::createDatabase(const std::string& name) {
  std::string error;
  auto admin = storeserver::storage::openPostgres(uri("postgres"), error);
  if (!admin) throw std::runtime_error(error);
  admin->execute("CREATE DATABASE " + name);
  return uri(name);
}

std::string PostgresCluster::uri(const std::string& database) const {
  return "postgresql://postgres@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

void PostgresCluster::run(const std::string& command) const {
  const std::string line = asRoot() ? "runuser -u postgres -- sh -c \"" + command + "\"" : command;
  if (std::system(line.c_str()) != 0)
    throw std::runtime_error("PostgreSQL failed: " + command + "\n" + fileText(dir_ / "initdb.log") +
                             fileText(dir_ / "server.log"));
}

}  // namespace servertest
