#pragma once
// The store's own buy list for a buying session, built from a term's course
// adoptions: per adopted book the students who will want it, the share of
// them expected to buy used, less the used copies on hand, is what the store
// buys back, at a share of the new price. Counts and cents are whole numbers
// throughout; a student share is kept in hundredths of a student.
#include <cstdint>
#include <string>
#include <vector>

#include "server/admin/buy_lists.h"
#include "server/admin/page.h"

namespace storeserver::admin {

// Percentages, whole numbers from 0 to 100.
struct AdoptionSettings {
  std::int64_t recommendedPercent = 50;  // of the students of a section recommending the book
  std::int64_t optionalPercent = 25;     // of those of a section offering it as optional
  std::int64_t usedPercent = 40;         // of the students wanting it, expected to buy it used
  std::int64_t pricePercent = 50;        // of the new price, the buy price
};

// One book adopted in the term, as the store's data holds it.
struct AdoptedBook {
  std::int64_t sku = 0;
  std::string isbn;
  std::string title;
  // Students enrolled in the term's sections at the store that require,
  // recommend, or offer the book as optional.
  std::int64_t required = 0;
  std::int64_t recommended = 0;
  std::int64_t optional = 0;
  std::int64_t newPriceCents = 0;  // 0: the store has no new price for it
  std::int64_t usedOnHand = 0;
  std::string problem;  // the reason of a problem reported for the term; empty: none
  bool inCatalogue = false;
};

struct AdoptionLine {
  AdoptedBook book;
  std::int64_t demandHundredths = 0;
  std::int64_t expectedUsed = 0;  // rounded down: the store never plans to buy more than it expects to sell
  std::int64_t quantity = 0;      // expected used less the used copies on hand, never below 0
  std::int64_t priceCents = 0;    // the share of the new price, to the cent, half a cent up
  std::string apart;              // why the store does not buy it; empty: bought
};

AdoptionLine adoptionLine(const AdoptedBook& book, const AdoptionSettings& settings);

// The books adopted at the store in the term, by title, in a few queries over the whole term.
std::vector<AdoptedBook> adoptedBooks(storage::Connection& db, std::int64_t store, const std::string& term);

// The terms the store has sections in: open ones first, each kind soonest first.
std::vector<std::string> adoptionTermsOf(storage::Connection& db, std::int64_t store);

// The name the store's own rows go under: the purchaser marked as the store's
// in this session, else in the store's latest session that has one, else the
// store's name.
std::string storesOwnPurchaser(storage::Connection& db, std::int64_t store, std::int64_t session);

// The adoption form of the session's page as sent: its settings, and its lines
// built from the adoptions with the quantities and prices the manager typed.
// Throws Refusal naming the first value that is wrong, or when the purchaser
// is not the one the store buys under in the session.
struct AdoptionBuild {
  std::string term;
  AdoptionSettings settings;
  std::string purchaser;
  ListMerge merge = ListMerge::Merge;
  std::vector<AdoptionLine> lines;
  ListPlan plan;  // of the lines bought; a book bought none of is left out unless the purchaser buys it now
};
AdoptionBuild adoptionBuild(const PageContext& page, std::int64_t session);

// "27.5": hundredths of a student as the preview shows them.
std::string hundredthsText(std::int64_t hundredths);

// "recommended at 50 %, optional at 25 %, used 40 %, price 50 % of new"
std::string settingsText(const AdoptionSettings& settings);

}  // namespace storeserver::admin
