#pragma once
// Text for a 42-column receipt printer: lines end with CR LF, none is wider
// than 42 characters (UTF-8 characters, not bytes), control characters and
// invisible direction marks become blanks.
#include <string>
#include <string_view>

namespace storeserver::queries {

class Printout {
 public:
  static constexpr std::size_t kColumns = 42;

  // Adds text as lines, each indented, broken at blanks; a word longer than a
  // line is broken where the line ends.
  void add(std::string_view text, std::size_t indent = 0);
  // One line: left at the left edge, right at the right edge, when both fit;
  // otherwise each on lines of its own.
  void pair(std::string_view left, std::string_view right);
  void rule(char c) { text_ += std::string(kColumns, c) + "\r\n"; }
  std::string take() { return std::move(text_); }

 private:
  std::string text_;
};

}  // namespace storeserver::queries
