#pragma once
// What the HTTP front hands to the rest of the server and takes back: plain
// values, so nothing outside the front needs Beast.
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace storeserver {

struct HttpRequest {
  std::string method;  // "GET", "POST", ...
  std::string target;  // path with any query string
  std::string contentType;
  // What the back office's pages need besides: their session cookie, and
  // where a form was sent from.
  std::string cookie;
  std::string host;
  std::string origin;
  std::string referer;
  std::string body;
  std::string remoteAddress;  // the client's IP address, as text
  unsigned ioThread = 0;      // which of the front's I/O threads received it, from 0
  // Only on paths whose handler answers a too-large body itself: the body
  // passed the path's limit and was not kept; the connection closes after the answer.
  bool bodyTooLarge = false;
};

struct HttpResponse {
  int status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // besides Content-Type and Content-Length
};

// Words a refusal the server makes around a request's handler (busy,
// stopping, failed): JSON for the handhelds, a page for a browser.
using RefusalWording = HttpResponse (*)(int status, std::string_view sentence);

// Answers one request; callable from any thread, exactly once.
using Responder = std::function<void(HttpResponse)>;
// Runs work later on the thread that gave it.
using ThreadRunner = std::function<void(std::function<void()>)>;
// Called on an I/O thread for every complete request; must not block.
using RequestHandler = std::function<void(HttpRequest&&, Responder)>;

}  // namespace storeserver
