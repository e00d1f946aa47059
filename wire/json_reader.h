#pragma once
// Strict, typed reading of JSON objects: every failure becomes one sentence.
// A body nested deeper than kMaxJsonDepth is refused before it is parsed, so
// no recursive work ever meets a hostile depth.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace wire {

inline constexpr std::size_t kMaxJsonDepth = 16;

// True when no array or object in text lies deeper than maxDepth. Brackets
// inside strings do not count. A cheap byte scan, without recursion.
bool nestingWithin(std::string_view text, std::size_t maxDepth);

// What a reader says of a body or of its member `name`; `what` names the body.
namespace sentence {
std::string tooDeep(std::string_view what);
std::string notJson(std::string_view what);
std::string notObject(std::string_view what);
std::string missing(std::string_view what, std::string_view name);
std::string notText(std::string_view what, std::string_view name);
std::string tooLong(std::string_view what, std::string_view name, std::size_t maxLength);
std::string notWhole(std::string_view what, std::string_view name);
std::string outside(std::string_view what, std::string_view name, std::int64_t min, std::int64_t max);
std::string notList(std::string_view what, std::string_view name);
std::string tooMany(std::string_view what, std::string_view name, std::size_t maxItems);
}  // namespace sentence

class JsonReader {
 public:
  // Parses body as a JSON object; ok() is false when it is not one.
  JsonReader(std::string_view body, std::string_view what);
  // Reads members of an object already parsed, which must outlive the reader.
  JsonReader(const nlohmann::json& object, std::string_view what);
  JsonReader(nlohmann::json&&, std::string_view) = delete;
  JsonReader(const JsonReader&) = delete;
  JsonReader& operator=(const JsonReader&) = delete;

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  const nlohmann::json& json() const { return *json_; }
  // The parsed body, for a caller that keeps it beyond the reader.
  nlohmann::json takeJson() { return std::move(parsed_); }

  // Each returns nullopt (and records the first error) when the member is
  // missing, of another type, or out of [min, max] / longer than maxLength.
  std::optional<std::string> text(std::string_view name, std::size_t maxLength);
  std::optional<std::int64_t> integer(std::string_view name, std::int64_t min, std::int64_t max);
  std::optional<bool> flag(std::string_view name);
  // A member that may be absent: gives fallback then.
  std::optional<std::int64_t> integerOr(std::string_view name, std::int64_t fallback, std::int64_t min,
                                        std::int64_t max);
  const nlohmann::json* array(std::string_view name, std::size_t maxItems);

  void fail(std::string sentence);

 private:
  const nlohmann::json* member(std::string_view name, bool required);

  nlohmann::json parsed_;  // owned only when the reader parsed the body itself
  const nlohmann::json* json_;
  std::string what_;
  std::string error_;
};

}  // namespace wire
