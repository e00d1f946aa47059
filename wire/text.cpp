#include "wire/text.h"

#include <cstdio>

namespace wire {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isControl(char32_t c) { return c < 0x20 || c == 0x7F; }

// Decodes one code point at i and advances i; malformed input yields U+FFFD.
char32_t decodeUtf8(std::string_view s, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  int extra = 0;
  char32_t cp = 0;
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + extra >= s.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
  i += extra + 1;
  if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool isLineBreakOrControl(char32_t c) { return isControl(c) || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029; }

// Marks that set the direction of the text after or around them; they print as nothing.
bool isDirectionMark(char32_t c) {
  return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool isHidden(char32_t c) { return isLineBreakOrControl(c) || isDirectionMark(c); }

bool isSpace(char32_t c) {
  return c == ' ' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::u16string toUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t cp = decodeUtf8(utf8, i);
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string toUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t c = utf16[i];
    if (isHighSurrogate(c) && i + 1 < utf16.size() && isLowSurrogate(utf16[i + 1])) {
      appendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(utf16[i + 1]) - 0xDC00));
      ++i;
    } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
      appendUtf8(out, kReplacement);
    } else {
      appendUtf8(out, c);
    }
  }
  return out;
}

std::size_t utf16Length(std::string_view utf8) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < utf8.size();) units += decodeUtf8(utf8, i) >= 0x10000 ? 2 : 1;
  return units;
}

std::size_t appendUtf8Within(std::string& out, std::string_view utf8, std::size_t maxUnits) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x80) {  // most texts are ASCII: copied as they are
      if (units == maxUnits) break;
      out += isControl(byte) ? ' ' : char(byte);
      ++units;
      ++i;
      continue;
    }
    std::size_t next = i;
    const char32_t cp = decodeUtf8(utf8, next);
    const std::size_t width = cp >= 0x10000 ? 2 : 1;
    if (units + width > maxUnits) break;
    appendUtf8(out, cp);
    units += width;
    i = next;
  }
  return units;
}

bool hasControls(std::string_view utf8) {
  for (const char c : utf8)
    if (isControl(static_cast<unsigned char>(c))) return true;
  return false;
}

bool isBlank(std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size();)
    if (!isSpace(decodeUtf8(utf8, i))) return false;
  return true;
}

bool hasHiddenCharacters(std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size();)
    if (isHidden(decodeUtf8(utf8, i))) return true;
  return false;
}

std::optional<std::string> hiddenCharacterProblem(std::string_view field, std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t c = decodeUtf8(utf8, i);
    if (isLineBreakOrControl(c)) return std::string(field) + " holds a line break or another control character.";
    if (isDirectionMark(c)) {
      char code[8];
      std::snprintf(code, sizeof code, "U+%04X", unsigned(c));
      return std::string(field) + " holds the invisible direction mark " + code + ".";
    }
  }
  return std::nullopt;
}

std::string blankHiddenCharacters(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t start = i;
    if (isHidden(decodeUtf8(utf8, i))) out += ' ';
    else out.append(utf8.substr(start, i - start));
  }
  return out;
}

}  // namespace wire
