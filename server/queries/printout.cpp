#include "server/queries/printout.h"

#include "wire/text.h"

namespace storeserver::queries {

namespace {

bool startsCharacter(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; }

std::size_t columnsOf(std::string_view text) {
  std::size_t n = 0;
  for (char c : text) n += startsCharacter(c) ? 1 : 0;
  return n;
}

// The first `columns` characters of text, cut on a character boundary.
std::size_t bytesFor(std::string_view text, std::size_t columns) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (startsCharacter(text[i]) && seen++ == columns) return i;
  return text.size();
}

std::string withoutControls(std::string_view text) { return wire::blankHiddenCharacters(text); }

}  // namespace

void Printout::add(std::string_view text, std::size_t indent) {
  const std::string clean = withoutControls(text);
  const std::size_t room = kColumns - indent;
  std::string_view rest = clean;
  do {
    while (rest.size() > 1 && rest.front() == ' ') rest.remove_prefix(1);
    std::size_t cut = bytesFor(rest, room);
    if (cut < rest.size()) {
      const std::size_t blank = rest.substr(0, cut + 1).rfind(' ');
      if (blank != std::string_view::npos && blank > 0) cut = blank;
    }
    std::string line = std::string(indent, ' ') + std::string(rest.substr(0, cut));
    while (!line.empty() && line.back() == ' ') line.pop_back();
    text_ += line + "\r\n";
    rest.remove_prefix(cut);
  } while (!rest.empty() && rest.find_first_not_of(' ') != std::string_view::npos);
}

void Printout::pair(std::string_view left, std::string_view right) {
  const std::string l = withoutControls(left), r = withoutControls(right);
  const std::size_t used = columnsOf(l) + columnsOf(r);
  if (used >= kColumns) {
    const std::size_t rightColumns = columnsOf(r);
    add(l);
    add(r, rightColumns < kColumns ? kColumns - rightColumns : 0);
    return;
  }
  text_ += l + std::string(kColumns - used, ' ') + r + "\r\n";
}

}  // namespace storeserver::queries
