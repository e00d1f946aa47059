#include "server/client_address.h"

#include <algorithm>
#include <charconv>

namespace storeserver {

namespace ip = boost::asio::ip;

namespace {

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A bare address as written: no port, brackets or interface name.
std::optional<ip::address> bareAddress(std::string_view text) {
  if (text.empty() || text.find('%') != std::string_view::npos) return std::nullopt;
  boost::system::error_code ec;
  const ip::address address = ip::make_address(std::string(text), ec);
  if (ec) return std::nullopt;
  return address;
}

std::vector<unsigned char> bytesOf(const ip::address& address) {
  if (address.is_v4()) {
    const auto bytes = address.to_v4().to_bytes();
    return {bytes.begin(), bytes.end()};
  }
  const auto bytes = address.to_v6().to_bytes();
  return {bytes.begin(), bytes.end()};
}

// Whether a and b, of one family, agree in their first bits.
bool sameLeadingBits(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b, unsigned bits) {
  for (std::size_t i = 0; bits > 0; ++i, bits -= std::min(bits, 8u)) {
    const unsigned char mask = static_cast<unsigned char>(0xff << (8 - std::min(bits, 8u)));
    if ((a[i] & mask) != (b[i] & mask)) return false;
  }
  return true;
}

}  // namespace

std::optional<AddressRange> AddressRange::parse(std::string_view text) {
  const auto slash = text.find('/');
  const auto address = bareAddress(text.substr(0, slash));
  if (!address || (address->is_v6() && address->to_v6().is_v4_mapped())) return std::nullopt;
  const unsigned width = address->is_v4() ? 32 : 128;
  unsigned prefix = width;
  if (slash != std::string_view::npos) {
    const std::string_view digits = text.substr(slash + 1);
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), prefix);
    if (digits.empty() || digits.size() > 3 || ec != std::errc() || end != digits.data() + digits.size() ||
        prefix > width)
      return std::nullopt;
  }
  // 10.0.8.1/24 is most likely a typing error for an address or for 10.0.8.0/24.
  const std::vector<unsigned char> bytes = bytesOf(*address);
  for (unsigned bit = prefix; bit < width; ++bit)
    if (bytes[bit / 8] & (0x80 >> (bit % 8))) return std::nullopt;
  return AddressRange(*address, prefix, std::string(text));
}

std::optional<std::vector<AddressRange>> AddressRange::parseList(std::string_view text, std::string& bad) {
  std::vector<AddressRange> ranges;
  while (!text.empty()) {
    const auto end = text.find_first_of(", \t");
    const std::string_view entry = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (entry.empty()) continue;
    auto range = parse(entry);
    if (!range) {
      bad = std::string(entry);
      return std::nullopt;
    }
    ranges.push_back(std::move(*range));
  }
  return ranges;
}

bool AddressRange::contains(const ip::address& address) const {
  const ip::address plain = plainAddress(address);
  return plain.is_v4() == first_.is_v4() && sameLeadingBits(bytesOf(plain), bytesOf(first_), prefix_);
}

bool anyContains(const std::vector<AddressRange>& ranges, const ip::address& address) {
  return std::any_of(ranges.begin(), ranges.end(), [&](const AddressRange& r) { return r.contains(address); });
}

ip::address plainAddress(const ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped()) return ip::make_address_v4(ip::v4_mapped, address.to_v6());
  return address;
}

std::optional<ip::address> forwardedClient(std::string_view lastLine) {
  const auto comma = lastLine.rfind(',');
  const auto address = bareAddress(trimmed(comma == std::string_view::npos ? lastLine : lastLine.substr(comma + 1)));
  if (!address) return std::nullopt;
  return plainAddress(*address);
}

}  // namespace storeserver
