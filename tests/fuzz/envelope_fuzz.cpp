// The exchange envelope and request texts, as either side meets them from a peer.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "wire/exchange.h"
#include "wire/requests.h"
#include "../wire/tree_envelope.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  std::string error;
  if (!testsupport::envelopeReadersAgree(body, error)) std::abort();
  // Whatever is accepted must survive its own round trip.
  if (const auto request = wire::parseExchangeRequest(body, error)) {
    if (!wire::parseExchangeRequest(wire::toJson(*request), error)) std::abort();
    for (const wire::Query& q : request->queries) wire::requests::parse(q.text, error);
  }
  if (const auto login = wire::parseLoginRequest(body, error))
    if (!wire::parseLoginRequest(wire::toJson(*login), error)) std::abort();
  wire::parseLoginReply(body, error);
  wire::parseExchangeReply(body, error);
  wire::parseErrorBody(body);
  wire::requests::parse(body, error);
  return 0;
}
