#pragma once
// What Adoptra's lookups, detail query and printout share: finding the course
// sections of a student or of an item at a store, their books, and the problem
// reports of those books.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/queries/query.h"

namespace storeserver::queries::adoptions {

struct Section {
  std::int64_t id = 0;
  std::int64_t store = 0;
  std::string campus, term, department, course, section;
  bool termOpen = false;
};

struct Book {
  std::int64_t sku = 0;
  std::string isbn, title;
  std::int64_t newPriceCents = 0, usedPriceCents = 0, newOnHand = 0, usedOnHand = 0;
  int requestType = 0;
  bool problem = false;
};

struct Problem {
  std::string term;
  std::int64_t sku = 0;
  std::string reason, comment;
};

// Whose sections are asked for: a student's, or those of the book an item
// code names. Built by forStudent or forItem; nullopt and a sentence in error
// when the code is empty, unreadable or unknown.
class Subject {
 public:
  static std::optional<Subject> forStudent(storage::Connection& db, const std::string& studentId, std::string& error);
  static std::optional<Subject> forItem(storage::Connection& db, const std::string& code, std::string& error);

  // The sections at the store that adopted books, by department, course and
  // section. Never
  // empty: no section is an error sentence.
  std::optional<std::vector<Section>> sections(storage::Connection& db, std::int64_t store, std::string& error) const;
  // The problem reports at the store on the books of those sections, in their terms.
  std::vector<Problem> problems(storage::Connection& db, std::int64_t store) const;
  // "student S100200", "the book 9780131103627" for the printout's heading.
  const std::string& describe() const { return description_; }

 private:
  bool byStudent_ = true;
  storage::Value key_;
  std::string description_;
};

// The books adopted for a section, required first, with the section store's
// prices and copies on hand (none kept there: 0).
std::vector<Book> books(storage::Connection& db, const Section& section);

// Refuses a store that does not exist; nullopt when it does.
std::optional<std::string> unknownStore(storage::Connection& db, std::int64_t store);

// Refuses another store than the user's own when the back office restricts
// the user's lookups or the handheld asks to be restricted; nullopt otherwise.
std::optional<std::string> storeOutOfReach(const User& user, std::int64_t store, bool handheldRestricts);

}  // namespace storeserver::queries::adoptions
