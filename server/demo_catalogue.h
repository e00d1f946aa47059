#pragma once
// The demo store's books, generated the same on every run: valid ISBNs (some
// 979, some whose ISBN-10 ends in X), editions of one title under one book
// key, new and used copies of one ISBN, titles with accents, purchasers per
// buying session, product and inventory records, stolen-book reports.
//
// Book n has item ID "B" and n in 7 digits, SKU 200001 + n. Worth knowing:
//   "calculus"                 25 books: three pages of ten
//   9780001000001, 0001000004  book 0, "Calculus" 9th edition; two purchasers
//   000100235X                 book 6, an ISBN-10 ending in X
//   9791000000107              book 10, a 979 ISBN
//   K1000                      the book key of the nine editions of "Calculus"
//   "algebra", "economia"      titles with accents (Álgebra, Economía)
//   item B0000001              one purchaser (need 2); B0000005: need 0; B0000011: none
//   SKU 200002 (book 1)        three stolen-book reports at store 1
//   SKU 200005 (book 4)        one stolen-book report at store 1
//   SKU 200008 (book 7)        a product record but no inventory record at store 1
//   SKU 200023 (book 22)       an inventory record but no product record
//   book 43 and up, every 10th a new and a used copy of one ISBN (SKU 50000000 + n)
#include <cstdint>
#include <string>

#include "server/storage/storage.h"

namespace storeserver {

// Inside the caller's write transaction.
void seedDemoCatalogue(storage::Connection& db);

// Books number first .. first + count - 1 of the generated catalogue, with
// their title words, product and inventory at store 1, and purchasers in
// session 1001; for benchmarks on a large catalogue. Inside the caller's write
// transaction.
void addGeneratedBooks(storage::Connection& db, std::int64_t first, std::int64_t count);

// Facts of book n of the generated catalogue, as the demo store holds them.
std::string demoIsbn13(std::int64_t book);
std::int64_t demoSku(std::int64_t book);
std::int64_t demoNewPriceCents(std::int64_t book);
std::string demoTitle(std::int64_t book);

}  // namespace storeserver
