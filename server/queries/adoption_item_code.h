#pragma once
// Reads an item code as typed or scanned: an ISBN-13, an ISBN-10 (check digit
// X allowed), or a SKU of up to 8 digits. Blanks around the code and hyphens
// inside an ISBN are ignored.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace storeserver::queries {

struct ItemCode {
  std::optional<std::int64_t> sku;
  std::string isbn13;  // set when the code is an ISBN; an ISBN-10 is given as its ISBN-13
};

// nullopt when the code is none of these, or an ISBN's check digit is wrong.
std::optional<ItemCode> readItemCode(std::string_view code);

}  // namespace storeserver::queries
