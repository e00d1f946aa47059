// The typed JSON reader, over any body and the members an object may hold.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "wire/json_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  wire::JsonReader in(body, "body");
  const auto n = in.integer("n", -5, -1);
  if (n && (*n < -5 || *n > -1)) std::abort();
  const auto t = in.text("t", 8);
  if (t && t->size() > 8) std::abort();
  in.integerOr("p", -1, -1, 100);
  in.flag("f");
  if (const nlohmann::json* list = in.array("a", 4))
    for (const nlohmann::json& item : *list) {
      wire::JsonReader nested(item, "item");
      nested.text("t", 4);
    }
  return 0;
}
