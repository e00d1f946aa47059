#pragma once
// Record framing: the server formats records with RecordWriter; the client cuts
// a reply into record texts with cutRecords and reads fields with fieldText.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wire/layouts.h"

namespace wire {

// Builds one record of a layout, field by field in layout order.
// A text that does not fit its field as it is (too long, or holding control
// characters) is refused when its field says Overflow::Refuse. Otherwise
// control characters become blanks and a text too long is shortened visibly.
class RecordWriter {
 public:
  explicit RecordWriter(const RecordLayout& layout);

  RecordWriter& text(std::string_view utf8);
  RecordWriter& integer(std::int64_t value);
  RecordWriter& money(std::int64_t cents);

  // The record in UTF-8, terminator included. Empty when a field was given out
  // of order or of the wrong kind, or a value was refused; error() then says
  // which field and why.
  std::optional<std::string> finish();
  const std::string& error() const { return error_; }

 private:
  const FieldSpec* next(FieldKind kind);
  void appendDigits(std::string digits, const FieldSpec& field);

  const RecordLayout& layout_;
  std::string record_;  // UTF-8; field widths count UTF-16 code units
  std::size_t field_ = 0;
  std::string error_;
};

// The record length L written at offset 3 of a reply, read as a decimal integer:
// leading blanks and a sign allowed, reading stops at the first non-digit, no
// digits give 0.
std::int64_t recordLengthField(std::u16string_view reply);

struct RecordSpan {
  std::size_t offset;
  std::size_t length;
};

// Where each record of a reply lies, as the client hands them to a record class
// of the given data size: record i starts at i * (L + 1) and is L + 1 long, cut
// to dataSize and to the end of the reply. Always yields at least one span (an
// empty reply gives one empty span). A reply whose length field is negative is
// malformed; it yields one span over the whole reply (cut to dataSize), so the
// cut always ends.
std::vector<RecordSpan> cutRecords(std::u16string_view reply, std::size_t dataSize);

// Where each record of a reply that mixes layouts lies: each record's own
// length field says where the next starts (at L + 1). The walk stops at a
// record whose length is below the header's or runs past the end; malformed
// is then set, and the spans before it stand.
std::vector<RecordSpan> cutMixedRecords(std::u16string_view reply, bool& malformed);

// Field i of a record text; shorter or empty when the record text is short.
// The record's terminator is no part of any field: it is what a record of an
// older, shorter layout holds where a newer field would start.
// Trailing blanks (the padding) are removed; leading blanks are kept.
std::u16string_view fieldText(std::u16string_view record, const RecordLayout& layout, std::size_t i);

// Reads a number field as the client does: leading blanks and a sign allowed,
// stops at the first non-digit, no digits give 0; clamps to the int range.
int parseInteger(std::u16string_view text);

}  // namespace wire
