#pragma once
// Whose request it is, behind a load balancer: the balancer's connection
// carries every handheld's requests, so a balancer the settings name tells the
// client's address in X-Forwarded-For, and the server believes that header
// from such a balancer only. Anyone else could write any address into it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/ip/address.hpp>

namespace storeserver {

// One address (192.168.1.10, 2001:db8::10) or a range of them written as an
// address and the number of its leading bits that must match (10.0.8.0/24).
class AddressRange {
 public:
  // nullopt for anything else, or a range with bits set past its prefix.
  static std::optional<AddressRange> parse(std::string_view text);
  // A list of them separated by commas or blanks; nullopt and the entry
  // that is none in bad.
  static std::optional<std::vector<AddressRange>> parseList(std::string_view text, std::string& bad);

  bool contains(const boost::asio::ip::address& address) const;
  const std::string& text() const { return text_; }

 private:
  AddressRange(boost::asio::ip::address first, unsigned prefix, std::string text)
      : first_(first), prefix_(prefix), text_(std::move(text)) {}

  boost::asio::ip::address first_;
  unsigned prefix_ = 0;
  std::string text_;
};

bool anyContains(const std::vector<AddressRange>& ranges, const boost::asio::ip::address& address);

// An IPv4 client reaching an IPv6 socket comes as ::ffff:a.b.c.d; it is the
// same client as a.b.c.d, and is written so.
boost::asio::ip::address plainAddress(const boost::asio::ip::address& address);

// The client's address from the last X-Forwarded-For line of a request: its
// last entry, the one the balancer itself appended (nginx's
// $proxy_add_x_forwarded_for keeps what the client sent in front of it).
// nullopt when that entry is not a bare IP address.
std::optional<boost::asio::ip::address> forwardedClient(std::string_view lastLine);

}  // namespace storeserver
