#include "wire/json_text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <system_error>

namespace wire {
namespace {

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

bool plainAscii(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

// Length of the well-formed UTF-8 sequence at s[i] (Unicode's table of
// well-formed byte sequences: no overlong forms, surrogates or values above
// U+10FFFF), or 0 when it is not one.
std::size_t utf8SequenceLength(std::string_view s, std::size_t i) {
  const auto at = [&](std::size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
  const unsigned b0 = at(i);
  const auto tail = [&](std::size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) {
    return at(i + k) >= lo && at(i + k) <= hi;
  };
  if (b0 >= 0xC2 && b0 <= 0xDF) return tail(1) ? 2 : 0;
  if (b0 == 0xE0) return tail(1, 0xA0) && tail(2) ? 3 : 0;
  if ((b0 >= 0xE1 && b0 <= 0xEC) || b0 == 0xEE || b0 == 0xEF) return tail(1) && tail(2) ? 3 : 0;
  if (b0 == 0xED) return tail(1, 0x80, 0x9F) && tail(2) ? 3 : 0;
  if (b0 == 0xF0) return tail(1, 0x90) && tail(2) && tail(3) ? 4 : 0;
  if (b0 >= 0xF1 && b0 <= 0xF3) return tail(1) && tail(2) && tail(3) ? 4 : 0;
  if (b0 == 0xF4) return tail(1, 0x80, 0x8F) && tail(2) && tail(3) ? 4 : 0;
  return 0;
}

void appendCodePoint(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void appendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    std::size_t run = i;
    while (run < text.size() && plainAscii(static_cast<unsigned char>(text[run]))) ++run;
    out.append(text, i, run - i);
    if (run == text.size()) break;
    i = run;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t length = utf8SequenceLength(text, i);
      if (length == 0) out += kReplacementUtf8;
      else out.append(text, i, length);
      i += length == 0 ? 1 : length;
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
    ++i;
  }
  out += '"';
}

JsonCursor::JsonCursor(std::string_view text) : text_(text) {
  if (text_.substr(0, 3) == "\xEF\xBB\xBF") at_ = 3;  // a byte order mark, as other readers allow
}

bool JsonCursor::fail() {
  ok_ = false;
  return false;
}

void JsonCursor::skipSpace() {
  while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t'))
    ++at_;
}

JsonCursor::Type JsonCursor::peek() {
  skipSpace();
  if (!ok_ || at_ == text_.size()) return Type::Bad;
  const char c = text_[at_];
  if (c == '{') return Type::Object;
  if (c == '[') return Type::Array;
  if (c == '"') return Type::String;
  if (c == '-' || isDigit(c)) return Type::Number;
  if (c == 't' || c == 'f' || c == 'n') return Type::Literal;
  return Type::Bad;
}

bool JsonCursor::enterObject() {
  if (peek() != Type::Object) return false;
  ++at_;
  justOpened_ = true;
  return true;
}

bool JsonCursor::enterArray() {
  if (peek() != Type::Array) return false;
  ++at_;
  justOpened_ = true;
  return true;
}

// After a member or item: a ',' (true) or the closing bracket (false, consumed).
bool JsonCursor::afterSeparator(char close) {
  skipSpace();
  if (!ok_ || at_ == text_.size()) return fail();
  const bool first = justOpened_;
  justOpened_ = false;
  if (text_[at_] == close) {
    ++at_;
    return false;
  }
  if (first) return true;
  if (text_[at_] != ',') return fail();
  ++at_;  // what follows must be a member or an item, which its reader checks
  return true;
}

bool JsonCursor::nextMember(std::string& name) {
  if (!afterSeparator('}')) return false;
  if (peek() != Type::String || !string(name)) return fail();
  skipSpace();
  if (at_ == text_.size() || text_[at_] != ':') return fail();
  ++at_;
  return true;
}

bool JsonCursor::nextItem() { return afterSeparator(']') && ok_; }

bool JsonCursor::string(std::string& out) {
  out.clear();
  const Type type = peek();
  if (type != Type::String) return type == Type::Bad ? fail() : false;
  justOpened_ = false;
  ++at_;
  while (true) {
    std::size_t run = at_;
    while (run < text_.size() && plainAscii(static_cast<unsigned char>(text_[run]))) ++run;
    out.append(text_, at_, run - at_);
    at_ = run;
    if (at_ == text_.size()) return fail();
    const auto c = static_cast<unsigned char>(text_[at_]);
    if (c == '"') {
      ++at_;
      return true;
    }
    if (c == '\\') {
      if (!escape(out)) return fail();
    } else if (c >= 0x80) {
      if (!utf8Sequence(out)) return fail();
    } else {
      return fail();  // a control character must be escaped
    }
  }
}

bool JsonCursor::utf8Sequence(std::string& out) {
  const std::size_t length = utf8SequenceLength(text_, at_);
  if (length == 0) return false;
  out.append(text_, at_, length);
  at_ += length;
  return true;
}

bool JsonCursor::escape(std::string& out) {
  const auto unit = [&](std::size_t from) -> long {
    if (from + 4 > text_.size()) return -1;
    long value = 0;
    for (std::size_t k = from; k < from + 4; ++k) {
      const int d = hexDigit(text_[k]);
      if (d < 0) return -1;
      value = value * 16 + d;
    }
    return value;
  };
  if (at_ + 1 >= text_.size()) return false;
  const char kind = text_[at_ + 1];
  at_ += 2;
  switch (kind) {
    case '"': out += '"'; return true;
    case '\\': out += '\\'; return true;
    case '/': out += '/'; return true;
    case 'b': out += '\b'; return true;
    case 'f': out += '\f'; return true;
    case 'n': out += '\n'; return true;
    case 'r': out += '\r'; return true;
    case 't': out += '\t'; return true;
    case 'u': break;
    default: return false;
  }
  const long first = unit(at_);
  if (first < 0 || (first >= 0xDC00 && first <= 0xDFFF)) return false;
  at_ += 4;
  if (first < 0xD800 || first > 0xDBFF) {
    appendCodePoint(out, char32_t(first));
    return true;
  }
  // A high surrogate counts only with the low one that must follow it.
  if (at_ + 2 > text_.size() || text_[at_] != '\\' || text_[at_ + 1] != 'u') return false;
  const long second = unit(at_ + 2);
  if (second < 0xDC00 || second > 0xDFFF) return false;
  at_ += 6;
  appendCodePoint(out, 0x10000 + ((char32_t(first) - 0xD800) << 10) + (char32_t(second) - 0xDC00));
  return true;
}

namespace {

// The power of ten of a number's first significant digit: 2 for 123.4, -3 for 0.00123.
std::int64_t leadingPower(std::string_view number) {
  const std::size_t e = number.find_first_of("eE");
  const std::string_view mantissa = number.substr(0, e);
  std::int64_t exponent = 0;
  if (e != std::string_view::npos) {
    std::string_view digits = number.substr(e + 1);
    const bool negative = digits.front() == '-';
    if (digits.front() == '-' || digits.front() == '+') digits.remove_prefix(1);
    for (char c : digits) exponent = std::min<std::int64_t>(exponent * 10 + (c - '0'), 1'000'000'000);
    if (negative) exponent = -exponent;
  }
  const std::int64_t integerDigits =
      std::int64_t(std::min(mantissa.find('.'), mantissa.size())) - (mantissa.front() == '-' ? 1 : 0);
  std::int64_t zeros = 0;
  for (char c : mantissa) {
    if (c == '-' || c == '.' || c == '0') zeros += c == '0';
    else break;
  }
  return integerDigits - 1 - zeros + exponent;
}

// The request texts' reader (nlohmann) refuses a number beyond a double's
// range as no JSON, and reads one too small as 0; this reader does the same,
// so that every part of an exchange holds to one grammar.
bool withinDoubleRange(std::string_view number) {
  double value = 0;
  if (std::from_chars(number.data(), number.data() + number.size(), value).ec != std::errc::result_out_of_range)
    return true;
  return leadingPower(number) < 0;
}

}  // namespace

bool JsonCursor::number(Number& out) {
  out = {};
  const Type type = peek();
  if (type != Type::Number) return type == Type::Bad ? fail() : false;
  justOpened_ = false;
  const std::size_t start = at_;
  const bool negative = text_[at_] == '-';
  if (negative) ++at_;
  if (at_ == text_.size() || !isDigit(text_[at_])) return fail();
  if (text_[at_] == '0') ++at_;
  else
    while (at_ < text_.size() && isDigit(text_[at_])) ++at_;
  const std::size_t integerEnd = at_;
  bool fraction = false;
  if (at_ < text_.size() && text_[at_] == '.') {
    ++at_;
    if (at_ == text_.size() || !isDigit(text_[at_])) return fail();
    while (at_ < text_.size() && isDigit(text_[at_])) ++at_;
    fraction = true;
  }
  if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
    ++at_;
    if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
    if (at_ == text_.size() || !isDigit(text_[at_])) return fail();
    while (at_ < text_.size() && isDigit(text_[at_])) ++at_;
    fraction = true;
  }
  const std::string_view token = text_.substr(start, at_ - start);
  if (fraction) return withinDoubleRange(token) || fail();
  // Accumulated as a negative number, whose range holds INT64_MIN.
  std::uint64_t magnitude = 0;
  for (std::size_t k = start + (negative ? 1 : 0); k < integerEnd; ++k) {
    const unsigned digit = unsigned(text_[k] - '0');
    if (magnitude > (UINT64_MAX - digit) / 10) return withinDoubleRange(token) || fail();  // no whole number
    magnitude = magnitude * 10 + digit;
  }
  if (negative) {
    if (magnitude > std::uint64_t(INT64_MAX) + 1) return true;
    out.whole = true;
    out.value = magnitude == std::uint64_t(INT64_MAX) + 1 ? INT64_MIN : -std::int64_t(magnitude);
  } else if (magnitude > std::uint64_t(INT64_MAX)) {
    out.huge = true;
  } else {
    out.whole = true;
    out.value = std::int64_t(magnitude);
  }
  return true;
}

bool JsonCursor::literal(std::string_view word) {
  if (text_.substr(at_, word.size()) != word) return fail();
  at_ += word.size();
  return true;
}

bool JsonCursor::skip() {
  std::string name;
  Number number;
  switch (peek()) {
    case Type::Object:
      enterObject();
      while (nextMember(name))
        if (!skip()) return false;
      return ok_;
    case Type::Array:
      enterArray();
      while (nextItem())
        if (!skip()) return false;
      return ok_;
    case Type::String: return string(name);
    case Type::Number: return this->number(number);
    case Type::Literal:
      justOpened_ = false;
      return literal(text_[at_] == 't' ? "true" : text_[at_] == 'f' ? "false" : "null");
    case Type::Bad: return fail();
  }
  return fail();
}

bool JsonCursor::atEnd() {
  skipSpace();
  return ok_ && at_ == text_.size();
}

}  // namespace wire
