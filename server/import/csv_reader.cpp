#include "server/import/csv_reader.h"

namespace storeserver::csv {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<std::vector<Record>> records(std::string& error) {
    std::vector<Record> out;
    while (pos_ < text_.size()) {
      Record record{line_, {}};
      if (!readRecord(record.fields, error)) return std::nullopt;
      const bool blank = record.fields.size() == 1 && record.fields[0].empty();
      if (!blank) out.push_back(std::move(record));
    }
    return out;
  }

 private:
  // Reads one record through its line end (or the end of the text).
  bool readRecord(std::vector<std::string>& fields, std::string& error) {
    for (;;) {
      std::string field;
      if (!readField(field, error)) return false;
      fields.push_back(std::move(field));
      if (pos_ >= text_.size()) return true;
      const char c = text_[pos_++];
      if (c == ',') continue;
      endLine(c);
      return true;
    }
  }

  // Reads up to, not past, the comma or line end after the field.
  bool readField(std::string& field, std::string& error) {
    if (pos_ < text_.size() && text_[pos_] == '"') return readQuoted(field, error);
    while (pos_ < text_.size() && !isSeparator(text_[pos_])) field += text_[pos_++];
    if (field.find('"') != std::string::npos) {
      error = where() + "a quote inside a field that does not start with one; "
                        "put the whole field in quotes and double the quote.";
      return false;
    }
    return true;
  }

  bool readQuoted(std::string& field, std::string& error) {
    const int opened = line_;
    ++pos_;
    for (;;) {
      if (pos_ >= text_.size()) {
        error = "line " + std::to_string(opened) + ": a quoted field is never closed.";
        return false;
      }
      const char c = text_[pos_++];
      if (c == '"' && pos_ < text_.size() && text_[pos_] == '"') {
        field += '"';
        ++pos_;
      } else if (c == '"') {
        break;
      } else {
        // A carriage return inside quotes is text; line numbers count line feeds, as grep -n does.
        if (c == '\n') ++line_;
        field += c;
      }
    }
    if (pos_ < text_.size() && !isSeparator(text_[pos_])) {
      error = where() + "text after a closing quote; a quote inside a quoted field is written twice.";
      return false;
    }
    return true;
  }

  static bool isSeparator(char c) { return c == ',' || c == '\n' || c == '\r'; }

  void endLine(char c) {
    if (c == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
    ++line_;
  }

  std::string where() const { return "line " + std::to_string(line_) + ": "; }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

}  // namespace

std::optional<std::vector<Record>> parse(std::string_view text, std::string& error) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  return Reader(text).records(error);
}

}  // namespace storeserver::csv
