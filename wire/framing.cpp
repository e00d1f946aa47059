#include "wire/framing.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "wire/money.h"
#include "wire/text.h"

namespace wire {

RecordWriter::RecordWriter(const RecordLayout& layout) : layout_(layout) {
  const std::string length = std::to_string(layout.length());
  record_.reserve(layout.dataSize() + 1);
  record_ = layout.tag();
  record_.append(kLengthWidth - length.size(), '0');
  record_ += length;
}

const FieldSpec* RecordWriter::next(FieldKind kind) {
  if (!error_.empty()) return nullptr;
  if (field_ >= layout_.fields().size()) {
    error_ = "too many fields for record " + std::string(layout_.tag());
    return nullptr;
  }
  const FieldSpec& spec = layout_.fields()[field_++];
  if (spec.kind != kind) {
    error_ = "field " + std::string(spec.name) + " given with the wrong kind";
    return nullptr;
  }
  return &spec;
}

RecordWriter& RecordWriter::text(std::string_view utf8) {
  const FieldSpec* spec = next(FieldKind::Text);
  if (!spec) return *this;
  const std::size_t units = utf16Length(utf8);
  const bool fits = units <= spec->width;
  if (spec->overflow == Overflow::Refuse) {
    if (!fits) error_ = "value of field " + std::string(spec->name) + " is longer than " + std::to_string(spec->width);
    else if (hasControls(utf8)) error_ = "value of field " + std::string(spec->name) + " holds control characters";
    else record_.append(spec->width - appendUtf8Within(record_, utf8, units), ' ');
    return *this;
  }
  // Too long to show whole: what fits before an ellipsis, so a reader sees it was shortened.
  std::size_t written = appendUtf8Within(record_, utf8, fits ? units : spec->width - 1);
  if (!fits && spec->width > 0) {
    record_ += "\u2026";
    ++written;
  }
  record_.append(spec->width - written, ' ');
  return *this;
}

void RecordWriter::appendDigits(std::string digits, const FieldSpec& field) {
  const bool negative = !digits.empty() && digits[0] == '-';
  if (negative) digits.erase(0, 1);
  const std::size_t room = field.width - (negative ? 1 : 0);
  if (digits.size() > room) {
    error_ = "value of field " + std::string(field.name) + " does not fit its width";
    return;
  }
  if (negative) record_ += '-';
  record_.append(room - digits.size(), '0');
  record_ += digits;
}

RecordWriter& RecordWriter::integer(std::int64_t value) {
  if (const FieldSpec* spec = next(FieldKind::Integer)) appendDigits(std::to_string(value), *spec);
  return *this;
}

RecordWriter& RecordWriter::money(std::int64_t cents) {
  if (const FieldSpec* spec = next(FieldKind::Money)) appendDigits(formatCents(cents), *spec);
  return *this;
}

std::optional<std::string> RecordWriter::finish() {
  if (!error_.empty()) return std::nullopt;
  if (field_ != layout_.fields().size()) {
    error_ = "record " + std::string(layout_.tag()) + " is missing fields";
    return std::nullopt;
  }
  return record_ + char(kRecordTerminator);
}

namespace {

// atoi-like reading shared by the length field and number fields.
std::int64_t readDecimal(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > INT_MAX) value = std::int64_t(INT_MAX) + 1;  // keeps clamping cheap and exact
  }
  return negative ? -value : value;
}

}  // namespace

std::int64_t recordLengthField(std::u16string_view reply) {
  if (reply.size() <= kTagWidth) return 0;
  return readDecimal(reply.substr(kTagWidth, kLengthWidth));
}

std::vector<RecordSpan> cutMixedRecords(std::u16string_view reply, bool& malformed) {
  malformed = false;
  std::vector<RecordSpan> spans;
  std::size_t offset = 0;
  while (offset < reply.size()) {
    const std::int64_t length = recordLengthField(reply.substr(offset));
    if (length < std::int64_t(kHeaderWidth) || std::size_t(length) + 1 > reply.size() - offset) {
      malformed = true;
      break;
    }
    spans.push_back({offset, std::size_t(length) + 1});
    offset += std::size_t(length) + 1;
  }
  return spans;
}

std::vector<RecordSpan> cutRecords(std::u16string_view reply, std::size_t dataSize) {
  const std::int64_t length = recordLengthField(reply);
  if (length < 0) return {{0, std::min(reply.size(), dataSize)}};
  const std::size_t step = static_cast<std::size_t>(length) + 1;
  std::vector<RecordSpan> spans;
  std::size_t offset = 0;
  do {
    const std::size_t wanted = std::min(step, dataSize);
    const std::size_t available = offset < reply.size() ? reply.size() - offset : 0;
    spans.push_back({offset, std::min(wanted, available)});
    offset += step;
  } while (offset < reply.size());
  return spans;
}

std::u16string_view fieldText(std::u16string_view record, const RecordLayout& layout, std::size_t i) {
  if (record.ends_with(kRecordTerminator)) record.remove_suffix(1);
  const std::size_t offset = layout.offsetOf(i);
  if (offset >= record.size()) return {};
  std::u16string_view field = record.substr(offset, layout.fields()[i].width);
  while (!field.empty() && field.back() == u' ') field.remove_suffix(1);
  return field;
}

int parseInteger(std::u16string_view text) {
  const std::int64_t value = readDecimal(text);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace wire
