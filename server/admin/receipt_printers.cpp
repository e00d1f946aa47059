#include "server/admin/receipt_printers.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>

#include <charconv>

namespace storeserver::admin {

namespace {

std::string_view trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

template <class Number>
bool readNumber(std::string_view text, Number& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::optional<ReceiptPrinter> readPrinter(std::string_view text, std::string& error) {
  error = "A printer is given as \"STORE NAME = HOST:PORT\", such as \"1 Front counter = 10.0.4.20:9100\", not \"" +
          std::string(text) + "\".";
  const auto equals = text.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  const std::string_view named = trimmed(text.substr(0, equals)), address = trimmed(text.substr(equals + 1));
  const auto blank = named.find_first_of(" \t");
  if (blank == std::string_view::npos || address.empty()) return std::nullopt;
  ReceiptPrinter printer;
  printer.name = std::string(trimmed(named.substr(blank)));
  if (!readNumber(named.substr(0, blank), printer.store) || printer.store < 1) return std::nullopt;
  const auto colon = address.rfind(':');
  printer.host = std::string(address.substr(0, colon));
  if (colon != std::string_view::npos && (!readNumber(address.substr(colon + 1), printer.port) || printer.port == 0))
    return std::nullopt;
  if (printer.host.empty()) return std::nullopt;
  error.clear();
  return printer;
}

const ReceiptPrinter* findPrinter(const std::vector<ReceiptPrinter>& printers, std::int64_t store,
                                  std::string_view name) {
  for (const ReceiptPrinter& p : printers)
    if (p.store == store && p.name == name) return &p;
  return nullptr;
}

std::optional<std::string> sendToPrinter(const ReceiptPrinter& printer, std::string_view text,
                                         std::chrono::milliseconds timeout) {
  namespace asio = boost::asio;
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  asio::ip::tcp::resolver resolver(io);
  boost::system::error_code failed;
  bool done = false;
  resolver.async_resolve(printer.host, std::to_string(printer.port), [&](auto error, auto endpoints) {
    if (error) {
      failed = error;
      done = true;
      return;
    }
    asio::async_connect(socket, endpoints, [&](auto connectError, auto) {
      if (connectError) {
        failed = connectError;
        done = true;
        return;
      }
      asio::async_write(socket, asio::buffer(text.data(), text.size()), [&](auto writeError, std::size_t) {
        failed = writeError;
        done = true;
      });
    });
  });
  io.run_for(timeout);
  if (done && !failed) {
    socket.shutdown(asio::ip::tcp::socket::shutdown_send, failed);
    return std::nullopt;
  }
  return "The printer " + printer.name + " (" + printer.host + ":" + std::to_string(printer.port) +
         ") could not be reached: check that it is on and connected, then print again.";
}

}  // namespace storeserver::admin
