#pragma once
// Record layouts: the one description of every record class that crosses the
// wire, read by the server that writes records and the client that cuts them.
//
// A record is a 3-character tag, its length L in 5 digits, then the fields at
// fixed widths; L counts the tag, the length and the fields. A carriage return
// follows every record, so record i of a reply starts at i * (L + 1).
#include <cstddef>
#include <string_view>
#include <vector>

namespace wire {

enum class FieldKind {
  Text,     // left-aligned, padded with blanks
  Integer,  // right-aligned, zero-filled, '-' first when negative
  Money,    // cents written as dollars with two decimals, zero-filled: 0012.50
};

// What the writer does with a text longer than its field.
enum class Overflow {
  Refuse,    // an identifier, or any value a program may send back: never altered
  Ellipsis,  // a text only shown: shortened, ending in "…"
};

struct FieldSpec {
  std::string_view name;
  std::size_t width;
  FieldKind kind;
  Overflow overflow = Overflow::Refuse;  // texts only
};

constexpr std::size_t kTagWidth = 3;
constexpr std::size_t kLengthWidth = 5;
constexpr std::size_t kHeaderWidth = kTagWidth + kLengthWidth;
constexpr char16_t kRecordTerminator = u'\r';

class RecordLayout {
 public:
  RecordLayout(std::string_view tag, std::vector<FieldSpec> fields);

  std::string_view tag() const { return tag_; }
  const std::vector<FieldSpec>& fields() const { return fields_; }
  // L: header plus all fields, without the terminator.
  std::size_t length() const { return length_; }
  // Characters one record occupies in a reply, terminator included.
  std::size_t dataSize() const { return length_ + 1; }
  // Offset of field i from the start of the record.
  std::size_t offsetOf(std::size_t i) const { return offsets_.at(i); }
  // Index of the named field; throws std::out_of_range for an unknown name.
  std::size_t indexOf(std::string_view name) const;

 private:
  std::string_view tag_;
  std::vector<FieldSpec> fields_;
  std::vector<std::size_t> offsets_;
  std::size_t length_;
};

namespace layouts {
const RecordLayout& session();          // a buying session (Sellin)
const RecordLayout& location();         // a store location (Adoptra)
const RecordLayout& aidAccount();       // a student's aid charge account (Stipendo)
const RecordLayout& adoption();         // a course section that adopted books (Adoptra)
const RecordLayout& adoptionDetail();   // one book adopted for a course section (Adoptra)
const RecordLayout& adoptionProblem();  // a problem report on an adopted book (Adoptra)
// Sellin's book finding. item_id, sku and isbn are keys the program sends back;
// the schema keeps them within these widths.
const RecordLayout& slDetail();      // a book the store sells: a row of the item chooser
const RecordLayout& slPurchase();    // one purchaser's terms for a book in a session
const RecordLayout& slStolenItem();  // one stolen-book report
// The item lookup: the product record of a SKU (what the book is, its prices)
// and the store's inventory record of it (how many, where).
const RecordLayout& product();
const RecordLayout& inventory();
// Sellin's open ticket: the receipt number the handheld sends back with every
// change, and what the ticket was opened for.
const RecordLayout& receipt();
// One stored line of a ticket, first of the three records a line comes as.
const RecordLayout& ticketLine();
// One of a user's open tickets, for continuing or ending it.
const RecordLayout& openTicket();
}  // namespace layouts

}  // namespace wire
