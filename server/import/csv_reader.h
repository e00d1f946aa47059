#pragma once
// Comma-separated text as other systems export it: an optional UTF-8 byte-order
// mark, CRLF or LF line ends, fields in double quotes that may hold commas,
// line breaks and doubled quotes. Blank lines are skipped.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace storeserver::csv {

struct Record {
  int line = 0;  // the line the record starts on, from 1
  std::vector<std::string> fields;
};

// Every record, the header first; nullopt and "line N: reason" in error for a
// quote that is never closed or text between a closing quote and the comma.
std::optional<std::vector<Record>> parse(std::string_view text, std::string& error);

}  // namespace storeserver::csv
