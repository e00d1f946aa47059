#pragma once
// JSON read and written without a tree, for the bodies of every exchange,
// where a tree's allocations would cost more than the work they serve.
#include <cstdint>
#include <string>
#include <string_view>

namespace wire {

// Appends text as a JSON string, quotes included. Invalid UTF-8 bytes become
// U+FFFD, so a text from a peer can never make the output invalid.
void appendJsonString(std::string& out, std::string_view text);

// A strict reader of one JSON text (RFC 8259), value by value from the front.
// Once the text proves not to be JSON, ok() is false and every call after
// that returns false. Nesting is not limited here: check nestingWithin first.
class JsonCursor {
 public:
  enum class Type { Object, Array, String, Number, Literal, Bad };
  struct Number {
    bool whole = false;  // an integer literal within int64
    bool huge = false;   // an integer literal above INT64_MAX that fits 64 bits unsigned
    std::int64_t value = 0;
  };

  explicit JsonCursor(std::string_view text);

  bool ok() const { return ok_; }
  // The type of the value at the cursor, by its first character.
  Type peek();
  // Each reads the value at the cursor; false when it is of another type or bad.
  bool enterObject();
  bool enterArray();
  bool string(std::string& out);
  bool number(Number& out);
  bool skip();  // any value, whatever its type
  // The next member of the object entered, up to and including its ':'.
  // False at the object's end (consumed) or when the text is bad.
  bool nextMember(std::string& name);
  // True when another item of the array entered follows; false at its end.
  bool nextItem();
  // True when only white space is left.
  bool atEnd();

 private:
  bool fail();
  void skipSpace();
  bool literal(std::string_view word);
  bool afterSeparator(char close);
  bool escape(std::string& out);
  bool utf8Sequence(std::string& out);

  std::string_view text_;
  std::size_t at_ = 0;
  bool ok_ = true;
  bool justOpened_ = false;  // the next member or item is the first of its object or array
};

}  // namespace wire
