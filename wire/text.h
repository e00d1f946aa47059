#pragma once
// Text helpers for fixed-width fields whose widths count UTF-16 code units.
#include <optional>
#include <string>
#include <string_view>

namespace wire {

// Converts between UTF-8 and UTF-16. Invalid UTF-8 bytes become U+FFFD.
std::u16string toUtf16(std::string_view utf8);
std::string toUtf8(std::u16string_view utf16);

// Length in UTF-16 code units of the UTF-8 text as toUtf16 would convert it.
std::size_t utf16Length(std::string_view utf8);

// Appends the UTF-8 text to out code point by code point, invalid bytes as
// U+FFFD and control characters (below U+0020, and U+007F) as blanks, so a
// field never carries the record terminator or breaks a line on a display.
// Stops before the code point that would pass maxUnits UTF-16 code units, so
// a surrogate pair is never split; gives the units appended.
std::size_t appendUtf8Within(std::string& out, std::string_view utf8, std::size_t maxUnits);

// True when the text holds a control character (see appendUtf8Within).
bool hasControls(std::string_view utf8);

// True when the text is empty or holds blanks only: no ID or name at all.
bool isBlank(std::string_view utf8);

// What an ID or a name printed on a receipt or written to a log must not
// hold: a control character (C0, DEL, C1), a line or paragraph separator, or
// an invisible mark that turns or isolates the direction of the text around
// it, with which one name could read as another.
bool hasHiddenCharacters(std::string_view utf8);
// The sentence naming the field ("The student ID", "user_name") when the text holds one.
std::optional<std::string> hiddenCharacterProblem(std::string_view field, std::string_view utf8);

// The text with each such character as a blank, for text stored before it
// was refused.
std::string blankHiddenCharacters(std::string_view utf8);

}  // namespace wire
