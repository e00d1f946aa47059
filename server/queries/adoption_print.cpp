// adoptra_print {code, store, student}: the course books of a student (student
// true) or of an item at a store, as text for a 42-column receipt printer:
// lines end with CR LF and none is wider than 42 characters.
#include "server/log.h"
#include "server/queries/adoptions.h"
#include "wire/framing.h"
#include "wire/json_reader.h"
#include "wire/requests.h"

namespace storeserver::queries {

namespace {

using adoptions::Book;
using adoptions::Problem;
using adoptions::Section;

constexpr std::size_t kColumns = 42;
constexpr std::size_t kIndent = 2;

bool startsCharacter(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; }

// The first `columns` characters of text, cut on a character boundary.
std::size_t bytesFor(std::string_view text, std::size_t columns) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (startsCharacter(text[i]) && seen++ == columns) return i;
  return text.size();
}

class Printout {
 public:
  // Adds text as lines, each indented, broken at blanks; a word longer than a
  // line is broken where the line ends.
  void add(std::string_view text, std::size_t indent = 0) {
    std::string clean(text);
    for (char& c : clean)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
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
  void rule(char c) { text_ += std::string(kColumns, c) + "\r\n"; }
  std::string take() { return std::move(text_); }

 private:
  std::string text_;
};

const char* requestTypeName(int type) {
  switch (type) {
    case 1: return "Required";
    case 2: return "Recommended";
    case 3: return "Optional";
    default: return "";
  }
}

std::string dollars(std::int64_t cents) { return "$" + wire::formatCents(cents); }

void addSection(Printout& out, storage::Connection& db, const Section& s) {
  out.add(s.term + (s.termOpen ? "" : " (closed term)"));
  out.add(s.department + " " + s.course + " section " + s.section);
  out.add("Campus: " + s.campus);
  for (const Book& b : adoptions::books(db, s)) {
    out.add(std::string(requestTypeName(b.requestType)) + "  SKU " + std::to_string(b.sku), kIndent);
    out.add(b.title, kIndent);
    out.add("ISBN " + b.isbn, kIndent);
    out.add("New " + dollars(b.newPriceCents) + " (" + std::to_string(b.newOnHand) + " on hand)", kIndent);
    out.add("Used " + dollars(b.usedPriceCents) + " (" + std::to_string(b.usedOnHand) + " on hand)", kIndent);
    if (b.problem) out.add("See the problem reports", kIndent);
  }
  out.rule('-');
}

void addProblems(Printout& out, const std::vector<Problem>& problems) {
  if (problems.empty()) return;
  out.add("Problem reports");
  for (const Problem& p : problems) {
    out.add(p.term + "  SKU " + std::to_string(p.sku));
    out.add(p.reason, kIndent);
    if (!p.comment.empty()) out.add(p.comment, kIndent);
  }
  out.rule('-');
}

}  // namespace

wire::Reply adoptionPrint(QueryContext& context, const nlohmann::json& arguments) {
  wire::JsonReader in(arguments, "adoptra_print request");
  const auto code = in.text("code", wire::kMaxQueryTextLength);
  const auto store = in.integer("store", 1, wire::requests::kMaxStoreNumber);
  const auto student = in.flag("student");
  if (!in.ok()) return unreadableReply(context, in.error());
  const storage::Rows stores = context.db.query("SELECT name FROM stores WHERE store_num = ?", {*store});
  if (stores.empty()) return errorReply("There is no store " + std::to_string(*store) + ".");

  std::string error;
  const auto subject = *student ? adoptions::Subject::forStudent(context.db, *code, error)
                                : adoptions::Subject::forItem(context.db, *code, error);
  if (!subject) return errorReply(error);
  const auto sections = subject->sections(context.db, *store, error);
  if (!sections) return errorReply(error);

  Printout out;
  out.add(storage::textAt(stores[0], 0));
  out.add("Course books for " + subject->describe());
  out.rule('=');
  for (const Section& s : *sections) addSection(out, context.db, s);
  addProblems(out, subject->problems(context.db, *store));
  return recordsReply(out.take());
}

}  // namespace storeserver::queries
