// A store of the previous release (schema 5) opened by today's server: migrated, with its rows, open
// ticket and update identities kept.
#include <cstdlib>
#include <map>
#include <tuple>

#include "server/storage/migrations.h"
#include "server_fixture.h"
#include "wire/requests.h"

namespace servertest {
namespace {

namespace storage = storeserver::storage;

const std::filesystem::path kFixtures = UPGRADE_FIXTURES;
constexpr const char* kOpenReceipt = "00000003";  // user buyer, student S100300

std::string cell(const storage::Value& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  return "NULL";
}

std::vector<std::string> joinedRows(storage::Connection& db, const std::string& sql) {
  std::vector<std::string> out;
  for (const storage::Row& row : db.query(sql)) {
    std::string line;
    for (const storage::Value& value : row) line += (line.empty() ? "" : "|") + cell(value);
    out.push_back(line);
  }
  return out;
}

// The rows per table, and the tickets' own rows whole in the columns the previous release wrote.
struct Contents {
  std::map<std::string, std::int64_t> rowsPerTable;
  std::vector<std::string> tickets;

  explicit Contents(storage::Connection& db) {
    const char* tables = db.dialect() == storage::Dialect::Sqlite
                             ? "SELECT name FROM sqlite_master WHERE type = 'table'"
                             : "SELECT tablename FROM pg_tables WHERE schemaname = 'public'";
    for (const storage::Row& r : db.query(tables)) {
      const std::string table = storage::textAt(r, 0);
      rowsPerTable[table] = storage::integerAt(db.query("SELECT COUNT(*) FROM " + table).at(0), 0);
    }
    for (const char* sql :
         {"SELECT ticket_id, receipt, store_num, user_id, buyer, student_id, opened_on, is_open"
          " FROM tickets ORDER BY ticket_id",
          "SELECT * FROM ticket_lines ORDER BY ticket_id, line", "SELECT * FROM ticket_audit ORDER BY audit_id",
          "SELECT update_id, user_id, answer, applied_at FROM ticket_updates ORDER BY update_id"})
      for (std::string& row : joinedRows(db, sql)) tickets.push_back(std::move(row));
  }
};

class Upgrade : public BackendServerTest {
 protected:
  void SetUp() override {
    if (const std::string why = backendMissing(backend_); !why.empty()) GTEST_SKIP() << why;
    database_.emplace(backend_, dir_.path(), TestDatabase::Contents::Empty);
    // A copy of the committed file, or the dump restored into a fresh database.
    const std::string restore = "psql -X -q -v ON_ERROR_STOP=1 -d '" + database_->name() + "' -f '" +
                                (kFixtures / "schema5-postgres.sql").string() + "' >/dev/null";
    if (backend_ == Backend::Sqlite) std::filesystem::copy_file(kFixtures / "schema5.sqlite", database_->name());
    else ASSERT_EQ(std::system(restore.c_str()), 0) << restore;
    // A title the previous release indexed as written: upper-case Cyrillic.
    auto old = sideConnection();
    old->execute("INSERT INTO books VALUES ('R1', 9100001, 'FIZ', '9798000099018', 'ФИЗИКА', '', '', '', '', '', 0)");
    old->execute("INSERT INTO book_title_words (word, item_id) VALUES ('ФИЗИКА', 'R1')");
    // Ended tickets without lines, as a later release (with the back office) left them: one voided there, one
    // whose void was followed by lines taken off one by one.
    for (const char* receipt : {"00000004", "00000005"})
      old->execute("INSERT INTO tickets (ticket_id, receipt, store_num, user_id, buyer, student_id, opened_on, is_open)"
                   " SELECT ?, ?, 1, user_id, 'buyer', '', '2026-01-05', 0 FROM users WHERE user_name = 'buyer'",
                   {std::int64_t(std::stoi(receipt)), std::string(receipt)});
    for (const auto& [at, receipt, line, action, after] :
         std::vector<std::tuple<std::int64_t, std::string, std::int64_t, std::string, std::string>>{
             {1000, "00000004", 1, "add", "qty=1"},
             {2000, "00000004", 1, "void", ""},
             {2000, "00000004", 0, "void", "ended in the back office: wrong student"},
             {1000, "00000005", 1, "add", "qty=1"},
             {2000, "00000005", 1, "void", ""},
             {3000, "00000005", 2, "add", "qty=1"},
             {4000, "00000005", 2, "delete", ""},
             {5000, "00000005", 0, "end", "ended"}})
      old->execute("INSERT INTO ticket_audit (changed_at, user_name, receipt, line, action, old_values, new_values)"
                   " VALUES (?, 'office', ?, ?, ?, '', ?)",
                   {at, receipt, line, action, after});
    before_.emplace(*old);
    storeserver::ServerOptions o = options();
    o.seedDemo = false;
    start(o);
  }

  std::optional<Contents> before_;
};

INSTANTIATE_TEST_SUITE_P(Backends, Upgrade, kBothBackends, backendName);

TEST_P(Upgrade, KeepsEveryRowAndTheOpenTicketStillServes) {
  auto db = sideConnection();
  EXPECT_EQ(storage::integerAt(db->query("SELECT version FROM schema_version").at(0), 0),
            storage::currentSchemaVersion());
  const Contents after(*db);
  auto expected = before_->rowsPerTable;
  // Failed log-ins are counted afresh in a table of their own: a count lasts minutes.
  expected.erase("login_failures");
  expected["login_tries"] = 0;
  expected["login_name_key"] = 1;
  expected["admin_sessions"] = expected["admin_audit"] = expected["cash_drawers"] = expected["cash_drawer_moves"] = 0;
  EXPECT_EQ(after.rowsPerTable, expected);
  EXPECT_EQ(after.tickets, before_->tickets);
  EXPECT_EQ(texts("SELECT line_count || '/' || total_cents FROM tickets ORDER BY ticket_id"),
            (std::vector<std::string>{"1/3600", "0/0", "2/50", "0/0", "0/0"}))
      << "each ticket's count of lines and total, from its lines";
  // Voids read from the audit trail: the back office's with its reason; the handheld's, which left its ticket
  // open, then ended empty.
  const std::string handheldVoid =
      texts("SELECT '' || MAX(changed_at) FROM ticket_audit WHERE receipt = '00000002' AND action = 'void'").at(0);
  EXPECT_EQ(texts("SELECT receipt || ' ' || is_voided || ' ' || voided_at || ' ' || voided_by || ' ' || void_reason"
                  " FROM tickets ORDER BY ticket_id"),
            (std::vector<std::string>{"00000001 0 0  ", "00000002 1 " + handheldVoid + " buyer deleted on the handheld",
                                      "00000003 0 0  ", "00000004 1 2000 office wrong student", "00000005 0 0  "}));
  EXPECT_EQ(texts("SELECT word FROM book_title_words WHERE item_id = 'R1'"), std::vector<std::string>{"физика"});
  ASSERT_EQ(before_->rowsPerTable.at("ticket_updates"), 10);

  const std::string token = login(wire::kAppSellin, "buyer", "buyer1");
  const auto send = [&](const std::string& text, int packet) {
    return askWith(wire::kAppSellin, token, query(text, packet));
  };
  ASSERT_FALSE(send(wire::requests::sessions("buyer", "buyer1", 1), wire::kPacketQuery).error);
  const auto item = [&](int packet, const std::string& id, std::int64_t line, std::int64_t session, std::int64_t qty,
                        const char* price) {
    return send(wire::requests::ticketItem(id, kOpenReceipt, line, "Ostrand Company", session, "B0000000", qty, price),
                packet);
  };
  // Line 2's add, sent again under its identity, stored before digests were kept.
  const std::string lineTwo = storage::textAt(
      db->query("SELECT u.update_id FROM ticket_updates u JOIN ticket_audit a ON a.changed_at = u.applied_at"
                " WHERE a.receipt = '00000003' AND a.line = 2 AND a.action = 'add'")
          .at(0),
      0);
  const wire::Reply repeat = item(wire::kPacketNewItem, lineTwo, 2, 1002, -1, "12.00");
  EXPECT_FALSE(repeat.error) << repeat.text;
  EXPECT_EQ(Contents(*db).tickets, before_->tickets) << "a repeat of an old update was applied again";

  for (const wire::Reply& r : {item(wire::kPacketChange, newUpdateId(), 1, 1001, 2, "12.50"),
                               item(wire::kPacketDelete, newUpdateId(), 2, 1002, -1, "12.00"),
                               send(wire::requests::ticketTran(newUpdateId(), kOpenReceipt), wire::kPacketChange)})
    EXPECT_FALSE(r.error) << r.text;
  EXPECT_EQ(joinedRows(*db, "SELECT l.line, l.qty, t.is_open FROM tickets t JOIN ticket_lines l"
                            " ON l.ticket_id = t.ticket_id WHERE t.receipt = '00000003'"),
            std::vector<std::string>{"1|2|0"});
}

}  // namespace
}  // namespace servertest
