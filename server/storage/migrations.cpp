#include "server/storage/migrations.h"

#include <array>

#include "server/storage/title_words.h"

namespace storeserver::storage {

namespace {

// One statement of a step: the same on both databases, or an SQLite form and
// a PostgreSQL form, where an empty form has nothing to do on that database;
// or work that SQL cannot do, run on either.
struct Statement {
  Statement(const char* both) : sqlite(both), postgres(both) {}
  Statement(const char* sqliteForm, const char* postgresForm) : sqlite(sqliteForm), postgres(postgresForm) {}
  Statement(void (*work)(Connection&)) : run(work) {}
  std::string_view sqlite;
  std::string_view postgres;
  void (*run)(Connection&) = nullptr;
};

// Append only: a database records how many of these it has taken. Types and
// syntax stay within what SQLite and PostgreSQL both accept; flags are 0/1
// integers, money is BIGINT cents, dates are YYYY-MM-DD texts.
const std::array<std::vector<Statement>, 16> kMigrations = {{
    {
        "CREATE TABLE stores ("
        " store_num INTEGER NOT NULL PRIMARY KEY,"
        " name TEXT NOT NULL)",

        "CREATE TABLE locations ("
        " location_id INTEGER NOT NULL PRIMARY KEY,"
        " store_num INTEGER NOT NULL REFERENCES stores(store_num),"
        " code TEXT NOT NULL,"
        " name TEXT NOT NULL)",
        "CREATE INDEX locations_by_store ON locations(store_num, location_id)",

        "CREATE TABLE users ("
        " user_id INTEGER NOT NULL PRIMARY KEY,"
        " user_name TEXT NOT NULL UNIQUE,"
        " password_hash TEXT NOT NULL,"
        " store_num INTEGER NOT NULL REFERENCES stores(store_num),"
        " can_buy INTEGER NOT NULL DEFAULT 0,"
        " active INTEGER NOT NULL DEFAULT 1)",

        // Only a hash of each token is kept, so a copy of the database logs nobody in.
        "CREATE TABLE session_tokens ("
        " token_hash TEXT NOT NULL PRIMARY KEY,"
        " user_id INTEGER NOT NULL REFERENCES users(user_id),"
        " app INTEGER NOT NULL,"
        " issued_at BIGINT NOT NULL,"
        " expires_at BIGINT NOT NULL)",
        "CREATE INDEX session_tokens_by_expiry ON session_tokens(expires_at)",

        // Keyed by the name as typed, so unknown names are throttled too.
        "CREATE TABLE login_failures ("
        " user_name TEXT NOT NULL,"
        " failed_at BIGINT NOT NULL)",
        "CREATE INDEX login_failures_by_name ON login_failures(user_name, failed_at)",
        "CREATE INDEX login_failures_by_time ON login_failures(failed_at)",

        "CREATE TABLE buying_sessions ("
        " session_id INTEGER NOT NULL PRIMARY KEY,"
        " store_num INTEGER NOT NULL REFERENCES stores(store_num),"
        " description TEXT NOT NULL,"
        " student_id_required INTEGER NOT NULL,"
        " condition_check INTEGER NOT NULL,"
        " within_percent INTEGER NOT NULL,"
        " tran_warning_qty INTEGER NOT NULL,"
        " tran_max_qty INTEGER NOT NULL,"
        " is_open INTEGER NOT NULL)",
        "CREATE INDEX buying_sessions_by_store ON buying_sessions(store_num, is_open, session_id)",

        "CREATE TABLE students ("
        " student_id TEXT NOT NULL PRIMARY KEY,"
        " name TEXT NOT NULL)",

        "CREATE TABLE aid_agencies ("
        " agency_id INTEGER NOT NULL PRIMARY KEY,"
        " agency_number TEXT NOT NULL UNIQUE,"
        " name TEXT NOT NULL)",

        "CREATE TABLE aid_accounts ("
        " account_id INTEGER NOT NULL PRIMARY KEY,"
        " student_id TEXT NOT NULL REFERENCES students(student_id),"
        " agency_id INTEGER NOT NULL REFERENCES aid_agencies(agency_id),"
        " start_date TEXT NOT NULL,"
        " expire_date TEXT NOT NULL,"
        " total_balance_cents BIGINT NOT NULL,"
        " credit_limit_cents BIGINT NOT NULL)",
        "CREATE INDEX aid_accounts_by_student ON aid_accounts(student_id, start_date, account_id)",
    },
    // Values the handhelds send back must reach them whole, so they are kept
    // within their record widths here too. SQLite cannot add a CHECK to an
    // existing table; triggers do the same there, PostgreSQL takes the CHECK.
    {
        {"CREATE TRIGGER students_width_on_insert BEFORE INSERT ON students"
         " WHEN length(NEW.student_id) > 20"
         " BEGIN SELECT RAISE(ABORT, 'a student ID has at most 20 characters'); END",
         "ALTER TABLE students ADD CONSTRAINT students_width CHECK (length(student_id) <= 20)"},
        {"CREATE TRIGGER students_width_on_update BEFORE UPDATE ON students"
         " WHEN length(NEW.student_id) > 20"
         " BEGIN SELECT RAISE(ABORT, 'a student ID has at most 20 characters'); END",
         ""},
        {"CREATE TRIGGER aid_agencies_width_on_insert BEFORE INSERT ON aid_agencies"
         " WHEN length(NEW.agency_number) > 12"
         " BEGIN SELECT RAISE(ABORT, 'an agency number has at most 12 characters'); END",
         "ALTER TABLE aid_agencies ADD CONSTRAINT aid_agencies_width CHECK (length(agency_number) <= 12)"},
        {"CREATE TRIGGER aid_agencies_width_on_update BEFORE UPDATE ON aid_agencies"
         " WHEN length(NEW.agency_number) > 12"
         " BEGIN SELECT RAISE(ABORT, 'an agency number has at most 12 characters'); END",
         ""},
        {"CREATE TRIGGER locations_width_on_insert BEFORE INSERT ON locations"
         " WHEN length(NEW.code) > 8"
         " BEGIN SELECT RAISE(ABORT, 'a location code has at most 8 characters'); END",
         "ALTER TABLE locations ADD CONSTRAINT locations_width CHECK (length(code) <= 8)"},
        {"CREATE TRIGGER locations_width_on_update BEFORE UPDATE ON locations"
         " WHEN length(NEW.code) > 8"
         " BEGIN SELECT RAISE(ABORT, 'a location code has at most 8 characters'); END",
         ""},
        {"CREATE TRIGGER aid_accounts_width_on_insert BEFORE INSERT ON aid_accounts"
         " WHEN length(NEW.start_date) > 10 OR length(NEW.expire_date) > 10"
         " BEGIN SELECT RAISE(ABORT, 'a date has at most 10 characters'); END",
         "ALTER TABLE aid_accounts ADD CONSTRAINT aid_accounts_width CHECK (length(start_date) <= 10 AND "
         "length(expire_date) <= 10)"},
        {"CREATE TRIGGER aid_accounts_width_on_update BEFORE UPDATE ON aid_accounts"
         " WHEN length(NEW.start_date) > 10 OR length(NEW.expire_date) > 10"
         " BEGIN SELECT RAISE(ABORT, 'a date has at most 10 characters'); END",
         ""},
    },
    // Course adoptions. Term, department, course and section come back from
    // the handheld as it received them, so they stay within their record
    // widths and carry no trailing blanks (the record's padding is cut off).
    // Books are kept by SKU and ISBN here, to be joined to a catalogue.
    {
        "CREATE TABLE adoption_terms ("
        " term TEXT NOT NULL PRIMARY KEY"
        "  CHECK (length(term) BETWEEN 1 AND 12 AND term = rtrim(term)),"
        " starts_on TEXT NOT NULL,"
        " is_open INTEGER NOT NULL CHECK (is_open IN (0, 1)))",

        "CREATE TABLE adoption_sections ("
        " section_id INTEGER NOT NULL PRIMARY KEY,"
        " store_num INTEGER NOT NULL REFERENCES stores(store_num),"
        " campus TEXT NOT NULL,"
        " term TEXT NOT NULL REFERENCES adoption_terms(term),"
        " department TEXT NOT NULL"
        "  CHECK (length(department) BETWEEN 1 AND 8 AND department = rtrim(department)),"
        " course TEXT NOT NULL CHECK (length(course) BETWEEN 1 AND 8 AND course = rtrim(course)),"
        " section TEXT NOT NULL CHECK (length(section) BETWEEN 1 AND 6 AND section = rtrim(section)),"
        " UNIQUE (store_num, term, department, course, section))",

        "CREATE TABLE adoption_books ("
        " sku INTEGER NOT NULL PRIMARY KEY CHECK (sku BETWEEN 1 AND 99999999),"
        " isbn TEXT NOT NULL UNIQUE CHECK (length(isbn) = 13),"
        " title TEXT NOT NULL)",

        // What a section asks of a book: 1 required, 2 recommended, 3 optional.
        "CREATE TABLE adoption_section_books ("
        " section_id INTEGER NOT NULL REFERENCES adoption_sections(section_id),"
        " sku INTEGER NOT NULL REFERENCES adoption_books(sku),"
        " request_type INTEGER NOT NULL CHECK (request_type IN (1, 2, 3)),"
        " PRIMARY KEY (section_id, sku))",
        "CREATE INDEX adoption_section_books_by_sku ON adoption_section_books(sku, section_id)",

        "CREATE TABLE adoption_stock ("
        " store_num INTEGER NOT NULL REFERENCES stores(store_num),"
        " sku INTEGER NOT NULL REFERENCES adoption_books(sku),"
        " new_price_cents BIGINT NOT NULL CHECK (new_price_cents BETWEEN 0 AND 9999999),"
        " used_price_cents BIGINT NOT NULL CHECK (used_price_cents BETWEEN 0 AND 9999999),"
        " new_on_hand INTEGER NOT NULL CHECK (new_on_hand BETWEEN 0 AND 99999),"
        " used_on_hand INTEGER NOT NULL CHECK (used_on_hand BETWEEN 0 AND 99999),"
        " PRIMARY KEY (store_num, sku))",

        "CREATE TABLE adoption_enrollments ("
        " student_id TEXT NOT NULL REFERENCES students(student_id),"
        " section_id INTEGER NOT NULL REFERENCES adoption_sections(section_id),"
        " PRIMARY KEY (student_id, section_id))",

        "CREATE TABLE adoption_problems ("
        " problem_id INTEGER NOT NULL PRIMARY KEY,"
        " store_num INTEGER NOT NULL REFERENCES stores(store_num),"
        " term TEXT NOT NULL REFERENCES adoption_terms(term),"
        " sku INTEGER NOT NULL REFERENCES adoption_books(sku),"
        " reason TEXT NOT NULL,"
        " comment TEXT NOT NULL)",
        "CREATE INDEX adoption_problems_by_book ON adoption_problems(store_num, sku, term)",
    },
    // Book finding for Sellin. Keys a program sends back (item_id, sku, isbn13,
    // purchaser, student_id) stay within the widths of their record fields.
    {
        "CREATE TABLE books ("
        " item_id TEXT NOT NULL PRIMARY KEY CHECK (length(item_id) BETWEEN 1 AND 12),"
        " sku INTEGER NOT NULL UNIQUE CHECK (sku BETWEEN 1 AND 99999999),"
        " book_key TEXT NOT NULL CHECK (length(book_key) BETWEEN 1 AND 12),"
        " isbn13 TEXT NOT NULL CHECK (length(isbn13) = 13),"
        " title TEXT NOT NULL,"
        " author TEXT NOT NULL,"
        " imprint TEXT NOT NULL,"
        " edition TEXT NOT NULL,"
        " copyright TEXT NOT NULL,"
        " binding TEXT NOT NULL,"
        " guide INTEGER NOT NULL)",
        "CREATE INDEX books_by_isbn ON books(isbn13)",
        "CREATE INDEX books_by_key ON books(book_key)",
        "CREATE INDEX books_in_order ON books(title, copyright, item_id)",

        // Title words, case and accents folded: prefixes are found by range.
        "CREATE TABLE book_title_words ("
        " word TEXT NOT NULL,"
        " item_id TEXT NOT NULL REFERENCES books(item_id),"
        " PRIMARY KEY (word, item_id))",
        "CREATE INDEX book_title_words_by_item ON book_title_words(item_id, word)",

        "CREATE TABLE book_purchasers ("
        " session_id INTEGER NOT NULL REFERENCES buying_sessions(session_id),"
        " item_id TEXT NOT NULL REFERENCES books(item_id),"
        " purchaser TEXT NOT NULL CHECK (length(purchaser) BETWEEN 1 AND 30),"
        " ost_purchaser INTEGER NOT NULL,"
        " no_limit INTEGER NOT NULL,"
        " buy_qty INTEGER NOT NULL CHECK (buy_qty BETWEEN 0 AND 99999),"
        " bought_qty INTEGER NOT NULL CHECK (bought_qty BETWEEN 0 AND 99999),"
        " buy_price_cents BIGINT NOT NULL,"
        " alt_price_cents BIGINT NOT NULL,"
        " retail_price_cents BIGINT NOT NULL,"
        " listed_price_cents BIGINT NOT NULL,"
        " status TEXT NOT NULL,"
        " condition_text TEXT NOT NULL,"
        " condition_check INTEGER NOT NULL,"
        " PRIMARY KEY (session_id, item_id, purchaser))",

        "CREATE TABLE book_products ("
        " sku INTEGER NOT NULL PRIMARY KEY REFERENCES books(sku),"
        " new_price_cents BIGINT NOT NULL,"
        " used_price_cents BIGINT NOT NULL)",

        "CREATE TABLE book_inventory ("
        " store_num INTEGER NOT NULL REFERENCES stores(store_num),"
        " sku INTEGER NOT NULL REFERENCES books(sku),"
        " new_on_hand INTEGER NOT NULL,"
        " used_on_hand INTEGER NOT NULL,"
        " on_order INTEGER NOT NULL,"
        " location TEXT NOT NULL,"
        " last_received TEXT NOT NULL,"
        " PRIMARY KEY (store_num, sku))",

        "CREATE TABLE stolen_book_reports ("
        " report_id INTEGER NOT NULL PRIMARY KEY,"
        " store_num INTEGER NOT NULL REFERENCES stores(store_num),"
        " sku INTEGER NOT NULL REFERENCES books(sku),"
        " student_id TEXT NOT NULL CHECK (length(student_id) BETWEEN 1 AND 20),"
        " reported_on TEXT NOT NULL,"
        " stolen TEXT NOT NULL,"
        " comment_text TEXT NOT NULL)",
        "CREATE INDEX stolen_book_reports_by_sku ON stolen_book_reports(store_num, sku, reported_on)",
    },
    // Sellin's tickets. The receipt and every key of a line come back from the
    // handheld, so they stay within their record widths. A line's quantity
    // already counts in its purchaser's bought_qty, so two handhelds cannot
    // both take the last needed copy.
    {
        "CREATE TABLE tickets ("
        " ticket_id INTEGER NOT NULL PRIMARY KEY,"
        " receipt TEXT NOT NULL UNIQUE CHECK (length(receipt) BETWEEN 1 AND 10),"
        " store_num INTEGER NOT NULL REFERENCES stores(store_num),"
        " user_id INTEGER NOT NULL REFERENCES users(user_id),"
        " buyer TEXT NOT NULL,"
        " student_id TEXT NOT NULL CHECK (length(student_id) <= 20),"
        " opened_on TEXT NOT NULL CHECK (length(opened_on) = 10),"
        " is_open INTEGER NOT NULL CHECK (is_open IN (0, 1)))",
        "CREATE INDEX tickets_open_by_user ON tickets(user_id, store_num, student_id, is_open)",

        "CREATE TABLE ticket_lines ("
        " ticket_id INTEGER NOT NULL REFERENCES tickets(ticket_id),"
        " line INTEGER NOT NULL CHECK (line BETWEEN 1 AND 99999),"
        " session_id INTEGER NOT NULL REFERENCES buying_sessions(session_id),"
        " item_id TEXT NOT NULL REFERENCES books(item_id),"
        " purchaser TEXT NOT NULL CHECK (length(purchaser) BETWEEN 1 AND 30),"
        " qty INTEGER NOT NULL CHECK (qty <> 0 AND qty BETWEEN -9999 AND 99999),"
        " price_cents BIGINT NOT NULL CHECK (price_cents BETWEEN 1 AND 9999999),"
        " PRIMARY KEY (ticket_id, line))",
        "CREATE INDEX ticket_lines_by_book ON ticket_lines(session_id, item_id, purchaser)",

        // One row per applied update: a repeat of its identity gets this answer.
        "CREATE TABLE ticket_updates ("
        " update_id TEXT NOT NULL PRIMARY KEY CHECK (length(update_id) = 36),"
        " user_id INTEGER NOT NULL REFERENCES users(user_id),"
        " answer TEXT NOT NULL,"
        " applied_at BIGINT NOT NULL)",

        // Every change of a ticket, so voided and deleted lines can be reviewed.
        // line is 0 for a change of the whole ticket.
        // Rows come numbered: SQLite numbers an INTEGER PRIMARY KEY by itself.
        {"CREATE TABLE ticket_audit ("
         " audit_id INTEGER NOT NULL PRIMARY KEY,"
         " changed_at BIGINT NOT NULL,"
         " user_name TEXT NOT NULL,"
         " receipt TEXT NOT NULL,"
         " line INTEGER NOT NULL,"
         " action TEXT NOT NULL,"
         " old_values TEXT NOT NULL,"
         " new_values TEXT NOT NULL)",
         "CREATE TABLE ticket_audit ("
         " audit_id INTEGER GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
         " changed_at BIGINT NOT NULL,"
         " user_name TEXT NOT NULL,"
         " receipt TEXT NOT NULL,"
         " line INTEGER NOT NULL,"
         " action TEXT NOT NULL,"
         " old_values TEXT NOT NULL,"
         " new_values TEXT NOT NULL)"},
        "CREATE INDEX ticket_audit_by_receipt ON ticket_audit(receipt, audit_id)",
    },
    // Who may write tickets is the server's to decide: a log-in records the
    // buyer whose rights it proved, and for which store (0: none proved). An
    // update's identity names one content: its digest is kept beside it
    // (empty for updates stored before, whose content is not known).
    {
        "ALTER TABLE session_tokens ADD COLUMN buyer_user_id INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE session_tokens ADD COLUMN buyer_store INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE ticket_updates ADD COLUMN digest TEXT NOT NULL DEFAULT ''",
    },
    // Password tries are counted in one row per user name and one per client
    // address, each try before its hash runs, so that tries sent at once to
    // any number of servers cannot pass the limit. A window begins at its
    // first try.
    {
        "DROP TABLE login_failures",
        "CREATE TABLE login_tries ("
        " kind TEXT NOT NULL CHECK (kind IN ('user', 'address')),"
        " subject TEXT NOT NULL,"
        " window_start BIGINT NOT NULL,"
        " tries INTEGER NOT NULL,"
        " PRIMARY KEY (kind, subject))",
        "CREATE INDEX login_tries_by_window ON login_tries(window_start)",
    },
    // Title words now fold case and accents in every script, not in Latin
    // alone: words kept before would not be found as typed.
    {
        &reindexAllTitles,
    },
    // The back office may restrict a user's lookups to the user's own store.
    {
        "ALTER TABLE users ADD COLUMN restrict_lookup INTEGER NOT NULL DEFAULT 0",
    },
    // A name no user has may be a password typed in the wrong field: tries
    // count it by a hash keyed with a secret of this database, and the names
    // counted as typed so far go.
    {
        "DELETE FROM login_tries WHERE kind = 'user'",
        "CREATE TABLE login_name_key (name_key TEXT NOT NULL)",
        {"INSERT INTO login_name_key (name_key) VALUES (lower(hex(randomblob(32))))",
         "INSERT INTO login_name_key (name_key) VALUES (replace(gen_random_uuid()::text || gen_random_uuid()::text,"
         " '-', ''))"},
    },
    // The back office: a manager's right beside the buyer's (for the user's
    // own store, or with manages_chain for every store), its sign-in sessions
    // (only a hash of each token, in the database so every server of a chain
    // knows them) and a record of every change made there.
    {
        "ALTER TABLE users ADD COLUMN can_manage INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE users ADD COLUMN manages_chain INTEGER NOT NULL DEFAULT 0",
        "CREATE TABLE admin_sessions ("
        " token_hash TEXT NOT NULL PRIMARY KEY,"
        " user_id INTEGER NOT NULL REFERENCES users(user_id),"
        " started_at BIGINT NOT NULL,"
        " last_seen_at BIGINT NOT NULL)",
        "CREATE INDEX admin_sessions_by_start ON admin_sessions(started_at)",
        {"CREATE TABLE admin_audit ("
         " audit_id INTEGER NOT NULL PRIMARY KEY,"
         " changed_at BIGINT NOT NULL,"
         " user_name TEXT NOT NULL,"
         " store_num INTEGER NOT NULL,"
         " action TEXT NOT NULL,"
         " details TEXT NOT NULL)",
         "CREATE TABLE admin_audit ("
         " audit_id INTEGER GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
         " changed_at BIGINT NOT NULL,"
         " user_name TEXT NOT NULL,"
         " store_num INTEGER NOT NULL,"
         " action TEXT NOT NULL,"
         " details TEXT NOT NULL)"},
        "CREATE INDEX admin_audit_by_store ON admin_audit(store_num, audit_id)",
    },
    // The back office pages through a store's tickets of a day in the order
    // they opened and through a session's purchasers of one name or status.
    // A ticket keeps its count of lines and its total, moved with every
    // change of its lines, so a day's cash per buyer is summed from one index
    // rather than from every line of the day.
    {
        "CREATE INDEX tickets_by_day ON tickets(store_num, opened_on, ticket_id)",
        "ALTER TABLE tickets ADD COLUMN line_count INTEGER NOT NULL DEFAULT 0",
        "ALTER TABLE tickets ADD COLUMN total_cents BIGINT NOT NULL DEFAULT 0",
        "UPDATE tickets SET"
        " line_count = (SELECT COUNT(*) FROM ticket_lines l WHERE l.ticket_id = tickets.ticket_id),"
        " total_cents = (SELECT COALESCE(SUM(l.qty * l.price_cents), 0) FROM ticket_lines l"
        " WHERE l.ticket_id = tickets.ticket_id)",
        "CREATE INDEX tickets_by_day_and_buyer ON tickets(store_num, opened_on, buyer, is_open, line_count, "
        "total_cents)",
        "CREATE INDEX book_purchasers_by_purchaser ON book_purchasers(session_id, purchaser, item_id)",
        "CREATE INDEX book_purchasers_by_status ON book_purchasers(session_id, status, item_id, purchaser)",
    },
    // A line's change counts the other copies of its book on the same ticket
    // against the transaction maximum; without this the count read every line
    // of the ticket, so a long ticket made each of its updates slower.
    {
        "CREATE INDEX ticket_lines_by_ticket_and_book ON ticket_lines(ticket_id, lower(item_id))",
    },
    // A voided ticket says so wherever it is shown, with when, by whom and
    // why. Voids made before are read from the audit trail: an ended ticket
    // without lines whose last change of lines was a void (the back office's
    // carries its reason; a handheld's left the ticket open, and the buyer
    // ended it empty afterwards). The day's cash per buyer still reads one
    // index.
    {
        "ALTER TABLE tickets ADD COLUMN is_voided INTEGER NOT NULL DEFAULT 0 CHECK (is_voided IN (0, 1))",
        "ALTER TABLE tickets ADD COLUMN voided_at BIGINT NOT NULL DEFAULT 0",
        "ALTER TABLE tickets ADD COLUMN voided_by TEXT NOT NULL DEFAULT ''",
        "ALTER TABLE tickets ADD COLUMN void_reason TEXT NOT NULL DEFAULT ''",
        "UPDATE tickets SET is_voided = 1,"
        " voided_at = (SELECT MAX(a.changed_at) FROM ticket_audit a WHERE a.receipt = tickets.receipt"
        " AND a.action = 'void'),"
        " voided_by = (SELECT a.user_name FROM ticket_audit a WHERE a.receipt = tickets.receipt AND a.action = 'void'"
        " ORDER BY a.audit_id DESC LIMIT 1),"
        " void_reason = COALESCE((SELECT substr(a.new_values, 27) FROM ticket_audit a WHERE a.receipt = tickets.receipt"
        " AND a.action = 'void' AND a.line = 0 AND a.new_values LIKE 'ended in the back office: %'"
        " ORDER BY a.audit_id DESC LIMIT 1), 'deleted on the handheld')"
        " WHERE is_open = 0 AND line_count = 0 AND EXISTS (SELECT 1 FROM ticket_audit v WHERE v.receipt = "
        "tickets.receipt"
        " AND v.action = 'void' AND NOT EXISTS (SELECT 1 FROM ticket_audit l WHERE l.receipt = v.receipt"
        " AND l.audit_id > v.audit_id AND l.action IN ('add', 'change', 'delete')))",
        "DROP INDEX tickets_by_day_and_buyer",
        "CREATE INDEX tickets_by_day_and_buyer"
        " ON tickets(store_num, opened_on, buyer, is_open, is_voided, line_count, total_cents)",
    },
    // A buyer's cash drawer of a day, counted against what the buyer's tickets
    // paid out. Cash added and taken out is kept move by move with its reason,
    // and summed beside the drawer; what the tickets paid out is kept as it
    // stood when the manager closed the drawer, so a signed sheet stays as
    // signed. NULL counted: not counted yet; empty closed_by: still open.
    {
        "CREATE TABLE cash_drawers ("
        " drawer_id INTEGER NOT NULL PRIMARY KEY,"
        " store_num INTEGER NOT NULL REFERENCES stores(store_num),"
        " day TEXT NOT NULL,"
        " buyer TEXT NOT NULL,"
        " start_cents BIGINT NOT NULL,"
        " added_cents BIGINT NOT NULL DEFAULT 0,"
        " taken_cents BIGINT NOT NULL DEFAULT 0,"
        " counted_cents BIGINT,"
        " closed_by TEXT NOT NULL DEFAULT '',"
        " closed_at BIGINT NOT NULL DEFAULT 0,"
        " paid_cents BIGINT NOT NULL DEFAULT 0,"
        " UNIQUE (store_num, day, buyer))",
        "CREATE TABLE cash_drawer_moves ("
        " move_id INTEGER NOT NULL PRIMARY KEY,"
        " drawer_id INTEGER NOT NULL REFERENCES cash_drawers(drawer_id),"
        " moved_at BIGINT NOT NULL,"
        " user_name TEXT NOT NULL,"
        " amount_cents BIGINT NOT NULL,"
        " reason TEXT NOT NULL)",
        // SQLite numbers an INTEGER PRIMARY KEY itself.
        {"", "ALTER TABLE cash_drawers ALTER COLUMN drawer_id ADD GENERATED BY DEFAULT AS IDENTITY"},
        {"", "ALTER TABLE cash_drawer_moves ALTER COLUMN move_id ADD GENERATED BY DEFAULT AS IDENTITY"},
        "CREATE INDEX cash_drawer_moves_by_drawer ON cash_drawer_moves(drawer_id, move_id)",
    },
    // A purchaser's packing list sums its lines per book and price, and its
    // labels count each book and price's copies in ticket order: read in this
    // index's order, neither sorts the purchaser's lines nor reads the table.
    {
        "CREATE INDEX ticket_lines_by_purchaser"
        " ON ticket_lines(session_id, purchaser, item_id, price_cents, ticket_id, line, qty)",
    },
}};

}  // namespace

int currentSchemaVersion() { return int(kMigrations.size()); }

void migrate(Connection& db) {
  Transaction tx(db, TxMode::Write);
  db.execute("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
  const Rows rows = db.query("SELECT version FROM schema_version");
  std::int64_t version = 0;
  if (rows.empty()) db.execute("INSERT INTO schema_version (version) VALUES (0)");
  else version = integerAt(rows[0], 0);
  if (rows.size() > 1) throw Error("the schema version table holds more than one row");
  if (version > currentSchemaVersion())
    throw Error("the database has schema version " + std::to_string(version) + ", newer than this server's " +
                std::to_string(currentSchemaVersion()));
  const bool postgres = db.dialect() == Dialect::Postgres;
  for (auto step = std::size_t(version); step < kMigrations.size(); ++step)
    for (const Statement& statement : kMigrations[step]) {
      if (statement.run) {
        statement.run(db);
        continue;
      }
      const std::string_view sql = postgres ? statement.postgres : statement.sqlite;
      if (!sql.empty()) db.execute(sql);
    }
  db.execute("UPDATE schema_version SET version = ?", {std::int64_t(currentSchemaVersion())});
  tx.commit();
}

}  // namespace storeserver::storage
