#pragma once
// Turns a fuzzer's bytes into exchanges with the store server: who sends each
// one, and queries of every kind whose arguments come mostly from the demo
// store's own values (so that tickets open and lines are stored), sometimes
// from the edges of what a field takes, sometimes raw text.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wire/exchange.h"

namespace exchangefuzz {

// Each choice takes one byte; past the end every choice is 0, the most
// ordinary one, so a short input still makes whole exchanges.
class Bytes {
 public:
  explicit Bytes(std::string_view data) : data_(data) {}
  std::uint8_t next();
  std::string_view take(std::size_t count);
  bool empty() const { return data_.empty(); }

 private:
  std::string_view data_;
};

// What the demo store holds that a handheld would send back, read once from its database.
struct StoreValues {
  struct Purchase {  // a purchaser's terms for a book in a session
    std::int64_t session = 0;
    std::int64_t store = 0;
    std::string itemId;
    std::string purchaser;
    std::int64_t priceCents = 0;  // what the purchaser pays: a price the rules take
  };
  struct Section {
    std::string term, department, course, section;
  };
  struct Login {  // a user's name and password
    std::string name, password;
  };
  std::vector<Purchase> purchases;
  std::vector<std::int64_t> skus;
  std::vector<std::string> itemCodes;  // ISBNs, SKUs and title words as typed
  std::vector<std::string> students;
  std::vector<Section> sections;
  std::vector<Login> logins;
};

// One session token, with the program it was issued for.
struct Token {
  std::string text;
  int app = wire::kAppSellin;
};

// Writes the exchanges of one input, each from what the earlier ones answered.
class ExchangeWriter {
 public:
  ExchangeWriter(const StoreValues& values, const std::vector<Token>& tokens) : values_(values), tokens_(tokens) {}

  // The next exchange's body.
  std::string next(Bytes& in);
  // A receipt the server handed out, offered to the queries that follow.
  void opened(std::string receipt) { receipts_.push_back(std::move(receipt)); }

 private:
  std::string query(Bytes& in, wire::Query& query);

  const StoreValues& values_;
  const std::vector<Token>& tokens_;
  std::vector<std::string> receipts_;
  int updates_ = 0;      // update identities made so far
  int ticketItems_ = 0;  // sl_item queries written so far
};

}  // namespace exchangefuzz
