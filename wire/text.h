#pragma once
// Text helpers for fixed-width fields whose widths count UTF-16 code units.
#include <string>
#include <string_view>

namespace wire {

// Converts between UTF-8 and UTF-16. Invalid UTF-8 bytes become U+FFFD.
std::u16string toUtf16(std::string_view utf8);
std::string toUtf8(std::u16string_view utf16);

// Replaces every control character (below U+0020, and U+007F) by a blank, so a
// field can never carry the record terminator or break a line on a display.
std::u16string withoutControls(std::u16string_view text);

// Cuts text to at most width code units without splitting a surrogate pair, then
// pads it with blanks on the right to exactly width.
std::u16string fitLeft(std::u16string_view text, std::size_t width);

// Text longer than width becomes its first width - 1 code units (never half a
// surrogate pair) and an ellipsis, so a reader sees that it was shortened.
// Shorter text comes back as it is.
std::u16string shortenVisibly(std::u16string_view text, std::size_t width);

// True when the text holds a control character (see withoutControls).
bool hasControls(std::string_view utf8);

}  // namespace wire
