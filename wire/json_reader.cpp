#include "wire/json_reader.h"

namespace wire {

bool nestingWithin(std::string_view text, std::size_t maxDepth) {
  std::size_t depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > maxDepth) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}

namespace sentence {
namespace {
std::string quoted(std::string_view name) { return "\"" + std::string(name) + "\""; }
std::string member(std::string_view what, std::string_view name, std::string_view rest) {
  return quoted(name) + " in the " + std::string(what) + " " + std::string(rest);
}
}  // namespace
std::string tooDeep(std::string_view what) { return "The " + std::string(what) + " is nested too deeply."; }
std::string notJson(std::string_view what) { return "The " + std::string(what) + " is not valid JSON."; }
std::string notObject(std::string_view what) { return "The " + std::string(what) + " is not a JSON object."; }
std::string missing(std::string_view what, std::string_view name) {
  return "The " + std::string(what) + " has no " + quoted(name) + ".";
}
std::string notText(std::string_view what, std::string_view name) { return member(what, name, "must be a text."); }
std::string tooLong(std::string_view what, std::string_view name, std::size_t maxLength) {
  return member(what, name, "is longer than " + std::to_string(maxLength) + " bytes.");
}
std::string notWhole(std::string_view what, std::string_view name) {
  return member(what, name, "must be a whole number.");
}
std::string outside(std::string_view what, std::string_view name, std::int64_t min, std::int64_t max) {
  return member(what, name, "must lie between " + std::to_string(min) + " and " + std::to_string(max) + ".");
}
std::string notList(std::string_view what, std::string_view name) { return member(what, name, "must be a list."); }
std::string tooMany(std::string_view what, std::string_view name, std::size_t maxItems) {
  return "The " + std::string(what) + " holds more than " + std::to_string(maxItems) + " entries in " + quoted(name) +
         ".";
}
}  // namespace sentence

JsonReader::JsonReader(std::string_view body, std::string_view what) : json_(&parsed_), what_(what) {
  if (!nestingWithin(body, kMaxJsonDepth)) {
    fail(sentence::tooDeep(what_));
    return;
  }
  // JSON never holds a raw NUL, but nlohmann's reader takes one for the end of
  // the text and would accept whatever follows it unread.
  if (body.find('\0') != std::string_view::npos) {
    fail(sentence::notJson(what_));
    return;
  }
  parsed_ = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (parsed_.is_discarded()) fail(sentence::notJson(what_));
  else if (!parsed_.is_object()) fail(sentence::notObject(what_));
}

JsonReader::JsonReader(const nlohmann::json& object, std::string_view what) : json_(&object), what_(what) {
  if (!json_->is_object()) fail(sentence::notObject(what_));
}

void JsonReader::fail(std::string sentence) {
  if (error_.empty()) error_ = std::move(sentence);
}

const nlohmann::json* JsonReader::member(std::string_view name, bool required) {
  if (!ok()) return nullptr;
  const auto it = json_->find(name);
  if (it == json_->end()) {
    if (required) fail(sentence::missing(what_, name));
    return nullptr;
  }
  return &*it;
}

std::optional<std::string> JsonReader::text(std::string_view name, std::size_t maxLength) {
  const nlohmann::json* value = member(name, true);
  if (!value) return std::nullopt;
  if (!value->is_string()) {
    fail(sentence::notText(what_, name));
    return std::nullopt;
  }
  const auto& s = value->get_ref<const std::string&>();
  if (s.size() > maxLength) {
    fail(sentence::tooLong(what_, name, maxLength));
    return std::nullopt;
  }
  return s;
}

std::optional<std::int64_t> JsonReader::integer(std::string_view name, std::int64_t min, std::int64_t max) {
  const nlohmann::json* value = member(name, true);
  if (!value) return std::nullopt;
  if (!value->is_number_integer()) {
    fail(sentence::notWhole(what_, name));
    return std::nullopt;
  }
  // An unsigned value above INT64_MAX lies above every max; read as signed it would wrap.
  const bool huge = value->is_number_unsigned() && value->get<std::uint64_t>() > std::uint64_t(INT64_MAX);
  const std::int64_t n = huge ? 0 : value->get<std::int64_t>();
  if (huge || n < min || n > max) {
    fail(sentence::outside(what_, name, min, max));
    return std::nullopt;
  }
  return n;
}

std::optional<std::int64_t> JsonReader::integerOr(std::string_view name, std::int64_t fallback, std::int64_t min,
                                                  std::int64_t max) {
  if (ok() && !json_->contains(name)) return fallback;
  return integer(name, min, max);
}

std::optional<bool> JsonReader::flag(std::string_view name) {
  const nlohmann::json* value = member(name, true);
  if (!value) return std::nullopt;
  if (!value->is_boolean()) {
    fail(sentence::member(what_, name, "must be true or false."));
    return std::nullopt;
  }
  return value->get<bool>();
}

const nlohmann::json* JsonReader::array(std::string_view name, std::size_t maxItems) {
  const nlohmann::json* value = member(name, true);
  if (!value) return nullptr;
  if (!value->is_array()) {
    fail(sentence::notList(what_, name));
    return nullptr;
  }
  if (value->size() > maxItems) {
    fail(sentence::tooMany(what_, name, maxItems));
    return nullptr;
  }
  return value;
}

}  // namespace wire
