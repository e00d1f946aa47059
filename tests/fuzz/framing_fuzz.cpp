// Record framing: cutting any reply into records and fields as the client does,
// and writing any text into a record as the server does.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "wire/framing.h"
#include "wire/text.h"

namespace {

void cutAndRead(std::u16string_view reply, const wire::RecordLayout& layout) {
  for (const wire::RecordSpan& span : wire::cutRecords(reply, layout.dataSize())) {
    if (span.offset > reply.size() || span.length > reply.size() - span.offset || span.length > layout.dataSize())
      std::abort();
    const std::u16string_view record = reply.substr(span.offset, span.length);
    for (std::size_t i = 0; i < layout.fields().size(); ++i) wire::parseInteger(wire::fieldText(record, layout, i));
  }
}

// A written record has exactly its layout's size, whatever the text held.
void write(std::string_view text, const wire::RecordLayout& layout) {
  wire::RecordWriter writer(layout);
  writer.integer(1).integer(2).text(text).text(text);
  const auto record = writer.finish();
  if (record && wire::toUtf16(*record).size() != layout.dataSize()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string reply = wire::toUtf16(bytes);
  for (const wire::RecordLayout* layout :
       {&wire::layouts::session(), &wire::layouts::location(), &wire::layouts::aidAccount()})
    cutAndRead(reply, *layout);
  write(bytes, wire::layouts::location());
  return 0;
}
