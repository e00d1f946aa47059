// Demo store, seeded by --demo into an empty database.
//
// Users (name / password):
//   buyer   / buyer1     store 1, may buy
//   clerk   / clerk1     store 1, may not buy
//   manager / manager1   store 2, may buy, manages store 2 in the back office
//   former  / former1    store 1, disabled
//   office  / office1    store 1, manages every store of the chain in the back office
//
// Stores 1 and 2 have open buying sessions; store 3 has only a closed one.
//
// Students:
//   S100100  no aid accounts
//   S100200  one account (balance 12.50)
//   s100200  two accounts (a different student: IDs are case-sensitive),
//            one agency with a non-ASCII name
//   S100300  three accounts: a long agency name, a negative balance and a
//            negative amount available
#include "server/demo_data.h"

#include "server/demo_adoptions.h"
#include "server/demo_catalogue.h"

#include <array>
#include <string>

namespace storeserver {

namespace {

struct DemoUser {
  std::int64_t id;
  const char* name;
  const char* password;
  std::int64_t store;
  bool canBuy;
  bool active;
  bool restrictLookup = false;
  bool canManage = false;
  bool managesChain = false;
};

constexpr DemoUser kUsers[] = {
    {1, "buyer", "buyer1", 1, true, true},
    {2, "clerk", "clerk1", 1, false, true},
    {3, "manager", "manager1", 2, true, true, true, true},
    {4, "former", "former1", 1, true, false},
    {5, "office", "office1", 1, false, true, false, true, true},
};

// The parts a later version added to the demo store, each seeded once: a demo
// database made by an earlier version gets them too. The back office's
// manager is the last user.
void insertUser(storage::Connection& db, const DemoUser& u, const std::string& hash) {
  db.execute("INSERT INTO users (user_id, user_name, password_hash, store_num, can_buy, active, restrict_lookup,"
             " can_manage, manages_chain) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
             {u.id, u.name, hash, u.store, std::int64_t(u.canBuy), std::int64_t(u.active),
              std::int64_t(u.restrictLookup), std::int64_t(u.canManage), std::int64_t(u.managesChain)});
}

void seedMissingParts(storage::Connection& db, PasswordCost cost) {
  if (db.query("SELECT term FROM adoption_terms LIMIT 1").empty()) seedDemoAdoptions(db);
  if (db.query("SELECT term FROM adoption_terms WHERE term = 'FALL 2027'").empty()) seedDemoNextTerm(db);
  if (db.query("SELECT item_id FROM books LIMIT 1").empty()) seedDemoCatalogue(db);
  const DemoUser& office = kUsers[std::size(kUsers) - 1];
  if (db.query("SELECT user_id FROM users WHERE user_id = ? OR user_name = ?", {office.id, office.name}).empty())
    insertUser(db, office, hashPassword(office.password, cost));
}

}  // namespace

bool seedDemoData(storage::Connection& db, PasswordCost cost) {
  {
    storage::Transaction tx(db, storage::TxMode::Write);
    const bool empty = db.query("SELECT store_num FROM stores").empty();
    if (!empty) seedMissingParts(db, cost);
    tx.commit();
    if (!empty) return false;
  }
  // Hashing is slow; done before the write transaction takes its lock.
  std::array<std::string, std::size(kUsers)> hashes;
  for (std::size_t i = 0; i < hashes.size(); ++i) hashes[i] = hashPassword(kUsers[i].password, cost);

  storage::Transaction tx(db, storage::TxMode::Write);
  if (!db.query("SELECT store_num FROM stores").empty()) return false;  // another instance got there first

  auto run = [&db](std::string_view sql, std::initializer_list<std::vector<storage::Value>> rows) {
    for (const auto& row : rows) db.execute(sql, row);
  };
  using V = std::vector<storage::Value>;

  run("INSERT INTO stores (store_num, name) VALUES (?, ?)",
      {V{1, "Main Campus Bookstore"}, V{2, "North Campus Bookstore"}, V{3, "Downtown Annex"}});

  run("INSERT INTO locations (location_id, store_num, code, name) VALUES (?, ?, ?, ?)",
      {V{101, 1, "MAIN", "Main Floor"}, V{102, 1, "ANNEX", "  Annex"}, V{103, 1, "TEXT2", "Textbooks, Second Floor"},
       V{104, 1, "WHSE", " Warehouse"}, V{201, 2, "NORTH", "North Store"}, V{202, 2, "KIOSK", "  Library Kiosk"},
       V{301, 3, "DOWN", "Downtown Counter"}});

  for (std::size_t i = 0; i < hashes.size(); ++i) insertUser(db, kUsers[i], hashes[i]);

  // session, store, description, student ID required, condition check, within %, warning qty, max qty, open
  run("INSERT INTO buying_sessions (session_id, store_num, description, student_id_required, condition_check,"
      " within_percent, tran_warning_qty, tran_max_qty, is_open) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
      {V{1001, 1, "Spring Buyback", 1, 1, 10, 5, 10, 1}, V{1002, 1, "  Walk-in Buyback", 0, 0, 0, 3, 6, 1},
       V{1003, 1, "Wholesale Only", 0, 1, 25, 20, 50, 1}, V{1004, 1, "Wholesale Only", 1, 0, 5, 10, 20, 1},
       V{1005, 1, "Fall Buyback 2023", 1, 1, 10, 5, 10, 0}, V{1006, 1, "  Summer Session", 0, 0, 0, 2, 4, 0},
       V{2001, 2, "North Campus Buyback", 1, 1, 15, 4, 8, 1}, V{2002, 2, "  Finals Week", 0, 0, 100, 10, 9999, 1},
       V{2003, 2, "Winter Break", 0, 1, 10, 5, 10, 0}, V{3001, 3, "Downtown Spring", 1, 0, 10, 5, 10, 0}});

  run("INSERT INTO students (student_id, name) VALUES (?, ?)",
      {V{"S100100", "Ana Alves"}, V{"S100200", "Ben Brooks"}, V{"s100200", "Carla Castro"},
       V{"S100300", "Dana Dutta"}});

  run("INSERT INTO aid_agencies (agency_id, agency_number, name) VALUES (?, ?, ?)",
      {V{1, "VA-0001", "Veterans Administration Education Benefits"},
       V{2, "BR-SP-2024", "Fundação Estudantil São Paulo — Bolsas"}, V{3, "ST-PELL", "State Grant Office"},
       V{4, "TRIBAL-77", "Tribal Education Fund"},
       // 39 characters, then a character outside the BMP across the field's end
       V{5, "GLTF-5", "Greenfield Library and Textbook Fund — \U0001F4DA Program"}});

  // account, student, agency, start, expiry, total balance, credit limit (cents)
  run("INSERT INTO aid_accounts (account_id, student_id, agency_id, start_date, expire_date,"
      " total_balance_cents, credit_limit_cents) VALUES (?, ?, ?, ?, ?, ?, ?)",
      {V{1, "S100200", 3, "2024-08-15", "2025-05-31", 1250, 50000},
       V{2, "s100200", 2, "2024-01-10", "2024-12-20", 0, 30000},
       V{3, "s100200", 1, "2024-08-01", "2025-07-31", 7505, 7505},
       V{4, "S100300", 1, "2023-08-20", "2024-08-19", 12345, 100000},
       V{5, "S100300", 4, "2024-01-05", "2024-12-31", -2500, 20000},
       V{6, "S100300", 5, "2024-09-01", "2025-06-30", 60000, 50000}});

  seedMissingParts(db, cost);
  tx.commit();
  return true;
}

}  // namespace storeserver
