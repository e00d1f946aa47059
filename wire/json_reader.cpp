#include "wire/json_reader.h"

namespace wire {

JsonReader::JsonReader(std::string_view body, std::string_view what) : what_(what) {
  json_ = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (json_.is_discarded()) fail("The " + what_ + " is not valid JSON.");
  else if (!json_.is_object()) fail("The " + what_ + " is not a JSON object.");
}

JsonReader::JsonReader(const nlohmann::json& object, std::string_view what) : json_(object), what_(what) {
  if (!json_.is_object()) fail("The " + what_ + " is not a JSON object.");
}

void JsonReader::fail(std::string sentence) {
  if (error_.empty()) error_ = std::move(sentence);
}

const nlohmann::json* JsonReader::member(std::string_view name, bool required) {
  if (!ok()) return nullptr;
  const auto it = json_.find(name);
  if (it == json_.end()) {
    if (required) fail("The " + what_ + " has no \"" + std::string(name) + "\".");
    return nullptr;
  }
  return &*it;
}

std::optional<std::string> JsonReader::text(std::string_view name, std::size_t maxLength) {
  const nlohmann::json* value = member(name, true);
  if (!value) return std::nullopt;
  if (!value->is_string()) {
    fail("\"" + std::string(name) + "\" in the " + what_ + " must be a text.");
    return std::nullopt;
  }
  const auto& s = value->get_ref<const std::string&>();
  if (s.size() > maxLength) {
    fail("\"" + std::string(name) + "\" in the " + what_ + " is longer than " + std::to_string(maxLength) +
         " bytes.");
    return std::nullopt;
  }
  return s;
}

std::optional<std::int64_t> JsonReader::integer(std::string_view name, std::int64_t min, std::int64_t max) {
  const nlohmann::json* value = member(name, true);
  if (!value) return std::nullopt;
  if (!value->is_number_integer()) {
    fail("\"" + std::string(name) + "\" in the " + what_ + " must be a whole number.");
    return std::nullopt;
  }
  const bool fits = value->is_number_unsigned() ? value->get<std::uint64_t>() <= std::uint64_t(max)
                                                 : value->get<std::int64_t>() <= max;
  const std::int64_t n = fits ? value->get<std::int64_t>() : max;
  if (!fits || n < min) {
    fail("\"" + std::string(name) + "\" in the " + what_ + " must lie between " + std::to_string(min) +
         " and " + std::to_string(max) + ".");
    return std::nullopt;
  }
  return n;
}

std::optional<std::int64_t> JsonReader::integerOr(std::string_view name, std::int64_t fallback,
                                                  std::int64_t min, std::int64_t max) {
  if (ok() && !json_.contains(name)) return fallback;
  return integer(name, min, max);
}

std::optional<bool> JsonReader::flag(std::string_view name) {
  const nlohmann::json* value = member(name, true);
  if (!value) return std::nullopt;
  if (!value->is_boolean()) {
    fail("\"" + std::string(name) + "\" in the " + what_ + " must be true or false.");
    return std::nullopt;
  }
  return value->get<bool>();
}

const nlohmann::json* JsonReader::array(std::string_view name, std::size_t maxItems) {
  const nlohmann::json* value = member(name, true);
  if (!value) return nullptr;
  if (!value->is_array()) {
    fail("\"" + std::string(name) + "\" in the " + what_ + " must be a list.");
    return nullptr;
  }
  if (value->size() > maxItems) {
    fail("The " + what_ + " holds more than " + std::to_string(maxItems) + " entries in \"" +
         std::string(name) + "\".");
    return nullptr;
  }
  return value;
}

}  // namespace wire
