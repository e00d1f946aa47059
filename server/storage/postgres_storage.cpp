#include "server/storage/postgres_storage.h"

#include <libpq-fe.h>

#include <charconv>
#include <chrono>
#include <thread>
#include <optional>
#include <unordered_map>
#include <utility>

namespace storeserver::storage {

namespace {

// Type identifiers of PostgreSQL's built-in types (pg_type.oid), fixed since 7.x.
constexpr Oid kBoolOid = 16;
constexpr Oid kInt8Oid = 20;
constexpr Oid kInt2Oid = 21;
constexpr Oid kInt4Oid = 23;
constexpr Oid kTextOid = 25;
constexpr Oid kFloat4Oid = 700;
constexpr Oid kFloat8Oid = 701;
constexpr Oid kNumericOid = 1700;

// Every Write transaction of every server sharing the database takes this lock
// first, so those run one at a time as they do on SQLite, and their reads
// (read committed, after the lock) see everything committed before them.
// Retryable ones do without: serializable isolation orders them; so do
// RowLocked ones (a ticket's changes), by the row locks they take first. What their
// checks stand on (ticket lines, tickets, bought quantities, update
// identities) only they change once stored; where a Write changes a row one
// of them changes too, the database undoes a serializable one as a
// concurrent update, and a RowLocked one waits for the row.
constexpr long long kWriterLock = 0x73746f7265;

// Retryable transactions hold this table lock in a mode that lets them run
// together; one running alone holds it in a mode that excludes them, not
// plain reads. LOCK TABLE as the first statement takes no snapshot, so the
// transaction's snapshot comes after the wait and sees what those before
// it committed.
constexpr const char* kLockRetryable = "LOCK TABLE ticket_updates IN ROW SHARE MODE";
constexpr const char* kLockRetryableAlone = "LOCK TABLE ticket_updates IN EXCLUSIVE MODE";

// SQLSTATEs of a transaction undone because it lost to a concurrent one.
constexpr std::string_view kSerializationFailure = "40001";
constexpr std::string_view kDeadlockDetected = "40P01";
constexpr std::string_view kUniqueViolation = "23505";

// Whether a failure leaves the session unfit for another transaction: the
// database ends it (a shutdown, a crash of another backend, a start not yet
// done, the connection exception class), it takes only reads (a standby, as
// after a failover), or the failure never came from the database (libpq's
// own, which gives no SQLSTATE) so the session's state is unknown.
bool endsSession(const PGresult* result) {
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  if (!state) return true;
  const std::string_view code = state;
  const char* severity = PQresultErrorField(result, PG_DIAG_SEVERITY_NONLOCALIZED);
  const std::string_view level = severity ? severity : "";
  return code.starts_with("08") || code == "57P01" || code == "57P02" || code == "57P03" || code == "25006" ||
         level == "FATAL" || level == "PANIC";
}

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

// The statement with each '?' outside quotes replaced by $1, $2, ...; count
// is how many there are.
std::string numbered(std::string_view sql, int& count) {
  std::string out;
  out.reserve(sql.size() + 8);
  char quote = 0;
  count = 0;
  for (char c : sql) {
    if (quote) {
      if (c == quote) quote = 0;  // a doubled quote reopens at once
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '?') {
      out += '$' + std::to_string(++count);
      continue;
    }
    out += c;
  }
  return out;
}

std::int64_t wholeNumber(const char* text, int column) {
  std::int64_t n = 0;
  const char* end = text + std::char_traits<char>::length(text);
  const auto [last, ec] = std::from_chars(text, end, n);
  if (ec != std::errc() || last != end) throw Error("column " + std::to_string(column + 1) + " holds no whole number");
  return n;
}

class PostgresConnection final : public Connection {
 public:
  explicit PostgresConnection(PGconn* db) : db_(db) {}
  ~PostgresConnection() override { PQfinish(db_); }

  Dialect dialect() const noexcept override { return Dialect::Postgres; }

  Rows query(std::string_view sql, const std::vector<Value>& params) override {
    send(sql, params);
    Result result = sync("run a statement");
    Rows rows;
    const int count = PQntuples(result.get());
    rows.reserve(std::size_t(count));
    for (int r = 0; r < count; ++r) rows.push_back(readRow(result.get(), r));
    return rows;
  }

  std::int64_t execute(std::string_view sql, const std::vector<Value>& params) override {
    send(sql, params);
    Result result = sync("run a statement");
    const char* changed = PQcmdTuples(result.get());
    return *changed ? wholeNumber(changed, 0) : 0;
  }

  void send(std::string_view sql, const std::vector<Value>& params) override {
    if (queued_ >= kMostQueued) sync("run a statement");
    const std::string& name = prepare(sql, params);
    std::vector<std::string> texts(params.size());
    std::vector<const char*> values(params.size(), nullptr);
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (const auto* n = std::get_if<std::int64_t>(&params[i])) texts[i] = std::to_string(*n);
      else if (const auto* s = std::get_if<std::string>(&params[i])) texts[i] = *s;
      else continue;
      values[i] = texts[i].c_str();
    }
    queued(PQsendQueryPrepared(db_, name.c_str(), int(params.size()), values.data(), nullptr, nullptr, 0));
  }

  // Sent with the transaction's first statement that waits for an answer,
  // where a failed start shows.
  void begin(TxMode mode) override {
    reconnectIfLost();
    mode_ = mode;
    switch (mode) {
      case TxMode::Write:
        command("BEGIN ISOLATION LEVEL READ COMMITTED");
        send("SELECT pg_advisory_xact_lock(?)", {std::int64_t(kWriterLock)});
        break;
      case TxMode::Retryable:
        command("BEGIN ISOLATION LEVEL SERIALIZABLE");
        command(kLockRetryable);
        break;
      case TxMode::RetryableAlone:
        command("BEGIN ISOLATION LEVEL SERIALIZABLE");
        command(kLockRetryableAlone);
        break;
      case TxMode::RowLocked:
      case TxMode::Independent: command("BEGIN ISOLATION LEVEL READ COMMITTED"); break;
      case TxMode::Read:
        // One snapshot for the whole read, as an SQLite read transaction has.
        command("BEGIN ISOLATION LEVEL REPEATABLE READ");
    }
  }
  // What was sent and not yet answered goes with the COMMIT: a failure of
  // any of it is the commit's.
  void commit() override {
    command("COMMIT");
    Result result = sync("commit");
    // After a failed statement PostgreSQL answers COMMIT with a rollback.
    if (std::string_view(PQcmdStatus(result.get())) != "COMMIT")
      throw Error("the database dropped the transaction before it was committed");
  }
  void rollback() noexcept override {
    if (queued_ == 0 && PQtransactionStatus(db_) == PQTRANS_IDLE) return;
    try {
      command("ROLLBACK");
      sync("roll back");
    } catch (const Error&) {
      // A lost connection has no transaction left to undo.
    }
  }

  std::uint64_t roundTrips() const noexcept override { return roundTrips_; }

 private:
  // So many statements sent unanswered cannot fill both sides' buffers, each
  // side then waiting for the other to read.
  static constexpr int kMostQueued = 64;
  // Longer than a restart, or a failover under the monitor settings the docs
  // give (11-12 s from a primary's death to its standby taking writes); with
  // a last try at a dead host's connect_timeout, within the 15 s a handheld
  // waits for an answer.
  static constexpr auto kLostWait = std::chrono::seconds(12);

  void command(const char* sql) { queued(PQsendQueryParams(db_, sql, 0, nullptr, nullptr, nullptr, nullptr, 0)); }

  void queued(int sent) {
    if (sent) {
      ++queued_;
      return;
    }
    // libpq's own failure: the session's state is unknown.
    lost_ = true;
    throw ConnectionLost("the database could not be sent a statement: " + lastError());
  }

  std::string lastError() const {
    std::string reason = PQerrorMessage(db_);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    return reason;
  }

  // Sends what is queued and reads every answer: one round trip. Gives the
  // last statement's answer; throws the first failure, after which the
  // database skipped the rest.
  Result sync(const char* doing) {
    ++roundTrips_;
    const int expected = std::exchange(queued_, 0);
    if (!PQpipelineSync(db_)) fail(doing, nullptr);
    Result last(nullptr, &PQclear);
    std::optional<Result> failure;
    for (int i = 0; i < expected; ++i) {
      Result answer(PQgetResult(db_), &PQclear);
      if (!answer) fail(doing, failure ? failure->get() : nullptr);  // the connection is gone
      while (PGresult* end = PQgetResult(db_)) PQclear(end);
      const ExecStatusType status = PQresultStatus(answer.get());
      if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) last = std::move(answer);
      else if (!failure && status != PGRES_PIPELINE_ABORTED) failure = std::move(answer);
    }
    const Result marker(PQgetResult(db_), &PQclear);
    if (failure || PQresultStatus(marker.get()) != PGRES_PIPELINE_SYNC) fail(doing, failure ? failure->get() : nullptr);
    unconfirmed_.clear();
    return last;
  }

  [[noreturn]] void fail(const char* doing, const PGresult* result) {
    for (const std::string& key : unconfirmed_) statements_.erase(key);  // perhaps never prepared
    unconfirmed_.clear();
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    std::string reason = primary ? primary : lastError();
    while (!reason.empty() && reason.back() == '\n') reason.pop_back();
    reason = "the database could not " + std::string(doing) + ": " + reason;
    if (PQstatus(db_) == CONNECTION_BAD || endsSession(result)) {
      lost_ = true;
      throw ConnectionLost(reason);
    }
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    const bool lost = state && (state == kSerializationFailure || state == kDeadlockDetected ||
                                (state == kUniqueViolation && mode_ == TxMode::RowLocked));
    if (lost) throw Conflict(reason);
    throw Error(reason);
  }

  // A server restarted under a live connection, or a session it ended or
  // answered read-only: start afresh between transactions; its prepared
  // statements are gone with the old session. For a while after the
  // connection is found lost, a restarting database (or a standby being
  // promoted) is waited for rather than the request failed; after that, each
  // transaction tries once, so a database that stays down fails fast.
  void reconnectIfLost() {
    if (!lost_ && PQstatus(db_) == CONNECTION_OK) return;
    statements_.clear();
    unconfirmed_.clear();
    queued_ = 0;
    const auto now = std::chrono::steady_clock::now();
    if (!lostSince_) lostSince_ = now;
    for (auto wait = std::chrono::milliseconds(50);; wait = std::min(wait * 2, std::chrono::milliseconds(800))) {
      PQreset(db_);
      // A read-only session still serves what runs outside a transaction.
      const bool connected = PQstatus(db_) == CONNECTION_OK && PQenterPipelineMode(db_);
      if (connected && !readOnly()) {
        lost_ = false;
        lostSince_.reset();
        return;
      }
      if (std::chrono::steady_clock::now() + wait > *lostSince_ + kLostWait)
        throw Unreachable(connected ? "the database takes only reads"
                                    : "the database cannot be reached: " + lastError());
      std::this_thread::sleep_for(wait);
    }
  }

  // As the session's start reported it (PostgreSQL 14 and later; earlier
  // ones report neither, and are taken as writable).
  bool readOnly() const {
    for (const char* setting : {"in_hot_standby", "default_transaction_read_only"})
      if (const char* value = PQparameterStatus(db_, setting); value && std::string_view(value) == "on") return true;
    return false;
  }

  static Oid typeOf(const Value& v) {
    if (std::holds_alternative<std::int64_t>(v)) return kInt8Oid;
    if (std::holds_alternative<std::string>(v)) return kTextOid;
    return 0;  // NULL: the statement decides
  }

  // Prepared once per statement text and parameter types, in the same round
  // trip as its first run.
  const std::string& prepare(std::string_view sql, const std::vector<Value>& params) {
    std::string key(sql);
    key += '\0';
    std::vector<Oid> types;
    for (const Value& v : params) {
      types.push_back(typeOf(v));
      key += std::to_string(types.back()) + ",";
    }
    if (auto it = statements_.find(key); it != statements_.end()) return it->second;
    int placeholders = 0;
    const std::string text = numbered(sql, placeholders);
    if (placeholders != int(params.size()))
      throw Error("a statement was given " + std::to_string(params.size()) + " values for " +
                  std::to_string(placeholders) + " parameters");
    std::string name = "s" + std::to_string(++prepared_);
    queued(PQsendPrepare(db_, name.c_str(), text.c_str(), int(types.size()), types.data()));
    unconfirmed_.push_back(key);
    return statements_.emplace(std::move(key), std::move(name)).first->second;
  }

  static Row readRow(const PGresult* result, int r) {
    const int n = PQnfields(result);
    Row row;
    row.reserve(std::size_t(n));
    for (int c = 0; c < n; ++c) {
      if (PQgetisnull(result, r, c)) {
        row.emplace_back(nullptr);
        continue;
      }
      const char* text = PQgetvalue(result, r, c);
      switch (PQftype(result, c)) {
        case kInt2Oid:
        case kInt4Oid:
        case kInt8Oid:
        case kNumericOid:  // SUM of BIGINT; a fraction is refused by wholeNumber
          row.emplace_back(wholeNumber(text, c));
          break;
        case kBoolOid: row.emplace_back(std::int64_t(text[0] == 't')); break;
        case kFloat4Oid:
        case kFloat8Oid: throw Error("column " + std::to_string(c + 1) + " holds a fraction");
        default: row.emplace_back(std::string(text, std::size_t(PQgetlength(result, r, c))));
      }
    }
    return row;
  }

  PGconn* db_;
  int queued_ = 0;  // statements sent whose answers are not read yet
  std::uint64_t roundTrips_ = 0;
  TxMode mode_ = TxMode::Read;  // of the transaction begun last
  bool lost_ = false;           // made unfit by a failure, though libpq may still hold it open
  std::optional<std::chrono::steady_clock::time_point> lostSince_;  // while the connection is lost
  std::unordered_map<std::string, std::string> statements_;
  std::vector<std::string> unconfirmed_;  // keys of statements_ prepared since the last answer
  std::uint64_t prepared_ = 0;            // names are never reused, not even after a refused statement
};

}  // namespace

bool isPostgresUri(const std::string& database) {
  return database.starts_with("postgresql://") || database.starts_with("postgres://");
}

namespace {

// Where a URI's password lies, however it is written: after the user's ':'
// and up to the last '@'; empty when the URI holds none.
std::pair<std::size_t, std::size_t> passwordSpan(const std::string& uri) {
  const std::size_t start = uri.find("://");
  const std::size_t at = uri.rfind('@');
  if (start == std::string::npos || at == std::string::npos || at < start) return {0, 0};
  const std::size_t colon = uri.find(':', start + 3);
  if (colon == std::string::npos || colon > at) return {0, 0};
  return {colon + 1, at};
}

// A password holding a character that ends a part of the URI is read as
// other parts (a host, a port, a database name) and would be shown as them.
std::optional<std::string> passwordProblem(const std::string& uri) {
  const auto [begin, end] = passwordSpan(uri);
  if (uri.find_first_of("/@", begin) >= end) return std::nullopt;
  return "its password holds / or @, which must be written as %2F and %40";
}

// What the server asks of every connection unless its URI says otherwise: of
// the hosts a URI names, the one taking writes (the primary of a pair); a
// host that does not answer given up after 2 s, and one that dies under a
// connection found dead within about 7 s (keepalives, and data left
// unacknowledged), rather than after the system's many minutes.
PGconn* connect(const std::string& uri) {
  static constexpr const char* kKeywords[] = {
      "target_session_attrs", "connect_timeout",  "keepalives_idle", "keepalives_interval",
      "keepalives_count",     "tcp_user_timeout", "dbname",          nullptr};
  // The URI comes last: what it sets wins over these.
  const char* values[] = {"read-write", "2", "4", "1", "3", "7000", uri.c_str(), nullptr};
  return PQconnectdbParams(kKeywords, values, 1);
}

}  // namespace

std::string describePostgres(const std::string& uri) {
  const auto [begin, end] = passwordSpan(uri);
  std::string shown = begin == end ? uri : uri.substr(0, begin) + "***" + uri.substr(end);
  // libpq also takes the password as a parameter of the URI.
  for (std::size_t at = shown.find("password="); at != std::string::npos; at = shown.find("password=", at + 1)) {
    const std::size_t from = at + std::string_view("password=").size();
    shown.replace(from, std::min(shown.find('&', from), shown.size()) - from, "***");
  }
  return shown;
}

std::string numberedPlaceholders(std::string_view sql) {
  int count = 0;
  return numbered(sql, count);
}

std::unique_ptr<Connection> openPostgres(const std::string& uri, std::string& error) {
  if (const auto problem = passwordProblem(uri)) {
    error = "Cannot connect to the database " + describePostgres(uri) + ": " + *problem + ".";
    return nullptr;
  }
  PGconn* db = connect(uri);
  if (!db || PQstatus(db) != CONNECTION_OK) {
    std::string reason = db ? PQerrorMessage(db) : "out of memory";
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    error = "Cannot connect to the database " + describePostgres(uri) + ": " + reason + ".";
    PQfinish(db);
    return nullptr;
  }
  // Notices (such as "already exists, skipping") are no news to the clerk.
  PQsetNoticeProcessor(
      db, [](void*, const char*) {}, nullptr);
  // Statements are sent without waiting for each answer, and a round trip
  // waits for all of them at once.
  if (!PQenterPipelineMode(db)) {
    error = "Cannot connect to the database " + describePostgres(uri) + ": its connection takes no pipeline.";
    PQfinish(db);
    return nullptr;
  }
  return std::make_unique<PostgresConnection>(db);
}

}  // namespace storeserver::storage
