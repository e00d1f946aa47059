// Demo course adoptions.
//
// Terms: FALL 2026 and SPRING 2027 open; SPRING 2026 and "  SUMMER 26"
// closed. Some departments, courses and sections start with blanks, as the
// handheld's trimmed list columns expect.
//
// Students (store 1 unless said):
//   S100200  seven sections with books over all four terms, one more
//            without books (not listed), one more at store 2
//   S100300  one section at store 1; at store 2 one in a closed term only
//   S100100  enrolled nowhere
//
// Items: SKU 10001 (ISBN 9780134685991, ISBN-10 0134685997) is adopted by
// four sections at store 1 and one at store 2; ISBN-10 032157351X is SKU
// 10002. SKU 10012 is adopted by nobody. Problem reports on SKUs 10001, 10003
// and 10006.
//
// FALL 2027 at store 1 is next term's buy list in the making: four sections
// of generated students (S2xxxxx) adopting books of the demo catalogue, so the
// back office can build the store's own list from it; one book has a problem
// reported, one no new price.
#include "server/demo_adoptions.h"

#include <string>

#include "server/demo_catalogue.h"

namespace storeserver {

namespace {

using V = std::vector<storage::Value>;

void insertAll(storage::Connection& db, std::string_view sql, std::initializer_list<V> rows) {
  for (const V& row : rows) db.execute(sql, row);
}

}  // namespace

void seedDemoNextTerm(storage::Connection& db) {
  db.execute("INSERT INTO adoption_terms (term, starts_on, is_open) VALUES ('FALL 2027', '2027-08-23', 1)");
  insertAll(
      db,
      "INSERT INTO adoption_sections (section_id, store_num, campus, term, department, course, section)"
      " VALUES (?, 1, 'Main Campus', 'FALL 2027', ?, ?, ?)",
      {V{12, "MATH", "120", "01"}, V{13, "MATH", "120", "02"}, V{14, "ECON", "101", "01"}, V{15, "CHEM", "210", "01"}});
  // catalogue book, SKU, used copies on hand, whether it has a new price (the catalogue's)
  struct Adopted {
    std::int64_t book, sku, usedOnHand;
    bool priced = true;
  };
  constexpr Adopted kBooks[] = {{9, 10013, 6},   {17, 10014, 0},        {37, 10015, 3},
                                {38, 10016, 25}, {41, 10017, 0, false}, {44, 10018, 2}};
  for (const Adopted& b : kBooks) {
    const std::int64_t newCents = b.priced ? demoNewPriceCents(b.book) : 0;
    db.execute("INSERT INTO adoption_books (sku, isbn, title) VALUES (?, ?, ?)",
               {b.sku, demoIsbn13(b.book), demoTitle(b.book)});
    db.execute(
        "INSERT INTO adoption_stock (store_num, sku, new_price_cents, used_price_cents, new_on_hand, used_on_hand)"
        " VALUES (1, ?, ?, ?, 10, ?)",
        {b.sku, newCents, newCents * 3 / 4, b.usedOnHand});
  }
  // section, SKU, request type (1 required, 2 recommended, 3 optional)
  insertAll(db, "INSERT INTO adoption_section_books (section_id, sku, request_type) VALUES (?, ?, ?)",
            {V{12, 10013, 1}, V{12, 10014, 2}, V{13, 10013, 1}, V{13, 10014, 3}, V{14, 10015, 1}, V{14, 10016, 2},
             V{14, 10017, 1}, V{15, 10018, 1}, V{15, 10016, 3}});
  db.execute("INSERT INTO adoption_problems (problem_id, store_num, term, sku, reason, comment)"
             " VALUES (5, 1, 'FALL 2027', 10018, 'Edition change', 'The 5th edition replaces the 4th.')");
  constexpr std::int64_t kStudents[] = {42, 37, 65, 28};  // of sections 12 to 15
  std::int64_t student = 200001;
  for (std::int64_t section = 12; section <= 15; ++section)
    for (std::int64_t i = 0; i < kStudents[section - 12]; ++i, ++student) {
      const std::string id = "S" + std::to_string(student);
      db.execute("INSERT INTO students (student_id, name) VALUES (?, ?)", {id, "Student " + std::to_string(student)});
      db.execute("INSERT INTO adoption_enrollments (student_id, section_id) VALUES (?, ?)", {id, section});
    }
}

void seedDemoAdoptions(storage::Connection& db) {
  insertAll(db, "INSERT INTO adoption_terms (term, starts_on, is_open) VALUES (?, ?, ?)",
            {V{"SPRING 2026", "2026-01-12", 0}, V{"  SUMMER 26", "2026-06-01", 0}, V{"FALL 2026", "2026-08-24", 1},
             V{"SPRING 2027", "2027-01-11", 1}});

  // section, store, campus, term, department, course, section
  insertAll(db,
            "INSERT INTO adoption_sections (section_id, store_num, campus, term, department, course, section)"
            " VALUES (?, ?, ?, ?, ?, ?, ?)",
            {V{1, 1, "Main Campus", "FALL 2026", "BIO", "101", "01"},
             V{2, 1, "Main Campus", "FALL 2026", "BIO", "101", " 02"},
             V{3, 1, "North Campus", "FALL 2026", " CHEM", "110", "01"},
             V{4, 1, "Main Campus", "FALL 2026", "HIST", " 205", "  A"},
             V{5, 1, "Riverside Campus", "SPRING 2027", "MATH", "220", "01"},
             V{6, 1, "Main Campus", "SPRING 2027", "  ENG", "102", "03"},
             V{7, 1, "Main Campus", "SPRING 2026", "BIO", "100", "01"},
             V{8, 1, "North Campus", "  SUMMER 26", "CS", "150", "S1"},
             V{9, 2, "North Campus", "FALL 2026", "BIO", "101", "N1"},
             V{10, 2, "North Campus", "SPRING 2026", "CS", "210", "N1"},
             V{11, 1, "Main Campus", "SPRING 2027", "ART", "110", "01"}});

  insertAll(
      db, "INSERT INTO adoption_books (sku, isbn, title) VALUES (?, ?, ?)",
      {V{10001, "9780134685991", "Effective Java, Third Edition"},
       V{10002, "9780321573513", "Algorithms, Fourth Edition"},
       V{10003, "9781260256888", "Biology: Concepts and Investigations"},
       V{10004, "9780134666815", "Campbell Lab Manual for Introductory Biology"},
       V{10005, "9780078021305", "Chemistry: The Molecular Nature of Matter & Change, 8th Ed."},
       V{10006, "9781133947646", "Calculus: Early Transcendentals"},
       V{10007, "9780199535569", "Pride and Prejudice (Oxford World's Classics)"},
       V{10008, "9781593275846", "Eloquent JavaScript"},
       V{10009, "9780312404611", "A History of Western Society, Volume 2"}, V{10010, "9780062315007", "The Alchemist"},
       V{10011, "9781603094009", "Reading Primary Sources in History"},
       V{10012, "9780393310009", "The Elements of Style"}});

  // section, SKU, request type (1 required, 2 recommended, 3 optional)
  insertAll(db, "INSERT INTO adoption_section_books (section_id, sku, request_type) VALUES (?, ?, ?)",
            {V{1, 10003, 1}, V{1, 10004, 2}, V{1, 10001, 3}, V{2, 10003, 1}, V{2, 10004, 1}, V{3, 10005, 1},
             V{3, 10001, 3}, V{4, 10009, 1}, V{4, 10011, 2}, V{5, 10006, 1}, V{5, 10002, 2}, V{5, 10001, 3},
             V{6, 10007, 1}, V{6, 10010, 3}, V{7, 10003, 1}, V{8, 10008, 1}, V{8, 10001, 2}, V{8, 10002, 3},
             V{9, 10003, 1}, V{9, 10001, 3}, V{10, 10002, 1}});

  // store, SKU, new and used price (cents), new and used on hand
  insertAll(db,
            "INSERT INTO adoption_stock (store_num, sku, new_price_cents, used_price_cents, new_on_hand, used_on_hand)"
            " VALUES (?, ?, ?, ?, ?, ?)",
            {V{1, 10001, 5499, 4125, 12, 3}, V{1, 10002, 8999, 6750, 4, 0}, V{1, 10003, 21450, 16088, 30, 11},
             V{1, 10004, 6425, 4820, 0, 5}, V{1, 10005, 28999, 21750, 8, 2}, V{1, 10006, 31225, 23420, 15, 9},
             V{1, 10007, 899, 675, 25, 14}, V{1, 10008, 3995, 2995, 6, 0}, V{1, 10009, 11900, 8925, 9, 4},
             V{1, 10010, 1699, 1275, 18, 7}, V{1, 10011, 4550, 3415, 0, 0}, V{1, 10012, 1095, 825, 10, 3},
             V{2, 10001, 5599, 4199, 2, 1}, V{2, 10002, 9150, 6865, 1, 1}, V{2, 10003, 21450, 16088, 7, 0}});

  insertAll(db, "INSERT INTO adoption_enrollments (student_id, section_id) VALUES (?, ?)",
            {V{"S100200", 1}, V{"S100200", 3}, V{"S100200", 4}, V{"S100200", 5}, V{"S100200", 6}, V{"S100200", 7},
             V{"S100200", 8}, V{"S100200", 9}, V{"S100200", 11}, V{"S100300", 2}, V{"S100300", 10}});

  insertAll(
      db,
      "INSERT INTO adoption_problems (problem_id, store_num, term, sku, reason, comment)"
      " VALUES (?, ?, ?, ?, ?, ?)",
      {V{1, 1, "FALL 2026", 10003, "Late shipment", "New edition ships 9/15; until then used copies only."},
       V{2, 1, "FALL 2026", 10001, "Wrong edition ordered", "Instructor wants the 3rd edition; 2nd editions go back."},
       V{3, 1, "SPRING 2027", 10006, "Price increase", "Publisher raised the list price by 8%."},
       V{4, 2, "FALL 2026", 10003, "Out of stock", "Reorder placed with the distributor."}});
  seedDemoNextTerm(db);
}

}  // namespace storeserver
