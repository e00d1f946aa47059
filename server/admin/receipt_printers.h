#pragma once
// The printers a store names for the back office's receipts: network printers
// taking raw text on a TCP port (9100, as office and receipt printers do),
// set per store in the server's options:
//   printer = 1 Front counter = 10.0.4.20:9100
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace storeserver::admin {

struct ReceiptPrinter {
  std::int64_t store = 0;
  std::string name;
  std::string host;
  std::uint16_t port = 9100;
};

// "STORE NAME = HOST[:PORT]"; nullopt and the sentence in error when it is not.
std::optional<ReceiptPrinter> readPrinter(std::string_view text, std::string& error);

const ReceiptPrinter* findPrinter(const std::vector<ReceiptPrinter>& printers, std::int64_t store,
                                  std::string_view name);

// Sends the text and closes the connection; the sentence for the manager when
// the printer cannot be reached within the timeout.
std::optional<std::string> sendToPrinter(const ReceiptPrinter& printer, std::string_view text,
                                         std::chrono::milliseconds timeout = std::chrono::seconds(5));

}  // namespace storeserver::admin
