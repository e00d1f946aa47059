#pragma once
// The HTTP/1.1 front: accepts connections, reads requests within limits, and
// hands each complete request to a handler as plain values. All of Beast stays
// in http_front.cpp.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "server/client_address.h"
#include "server/http_types.h"

namespace storeserver {

struct FrontOptions {
  std::string address = "127.0.0.1";
  std::uint16_t port = 0;
  unsigned ioThreads = 1;
  std::size_t maxHeaderBytes = 8 * 1024;
  std::size_t maxBodyBytes = 512 * 1024;
  std::chrono::milliseconds idleTimeout = std::chrono::seconds(60);
  // Open connections; each one more is answered 503 at once and closed, so
  // idle sockets cannot use up the descriptors the health check needs.
  std::size_t maxConnections = 1000;
  // PEM files; both set: every connection speaks TLS, neither: plain HTTP.
  std::string tlsCertificate;  // the server's certificate, then any intermediates
  std::string tlsKey;
  // Paths whose requests may carry a larger body (a file uploaded to the
  // back office).
  std::vector<std::string> largeBodyPaths;
  std::size_t maxLargeBodyBytes = 0;
  // Paths (without the query) whose handler answers a body past the limit
  // itself, as the back office answers a browser with a page; the large body
  // path always does. Elsewhere the front answers in JSON.
  std::function<bool(std::string_view path)> answersTooLargeItself;
  // Of maxConnections, open from one address; beyond them its next connection is
  // answered 503 at once too, so one machine cannot take all. 0: no share.
  // A trusted balancer's connections count only against maxConnections.
  std::size_t maxConnectionsPerAddress = 0;
  // Balancers whose X-Forwarded-For header names the client: a request
  // through them is the client's (HttpRequest::remoteAddress), any other's
  // header is ignored.
  std::vector<AddressRange> trustedBalancers;
  // Where idle connections are timed: a test moves it instead of waiting.
  std::function<std::chrono::steady_clock::time_point()> idleClock = std::chrono::steady_clock::now;
};

class HttpFront {
 public:
  // Binds and starts the I/O threads. nullptr and a sentence in error when the
  // address is not valid or cannot be bound, or the TLS files cannot be used.
  static std::unique_ptr<HttpFront> start(const FrontOptions& options, RequestHandler handler, std::string& error);

  virtual ~HttpFront() = default;
  virtual std::uint16_t port() const = 0;
  // Connections open now, refused ones aside.
  virtual std::size_t openConnections() const = 0;
  // Stops accepting; connections stay served until stop().
  virtual void stopAccepting() = 0;
  // Stops the I/O threads and drops every connection. Responders called later do nothing.
  virtual void stop() = 0;
};

// Called on one of a front's I/O threads (by its handler): runs work later
// on that same thread, after what it is doing. Work given once the front has
// stopped is dropped unrun; none may be given once it is destroyed.
ThreadRunner thisIoThread();

}  // namespace storeserver
