#pragma once
// The back office under /admin/: HTML pages for a store's managers, served by
// the same front as the handhelds. Every request is answered on a database
// worker or, for a log-in, with the password checks; never on a network thread.
#include <functional>
#include <string_view>

#include "server/admin/page.h"
#include "server/http_types.h"

namespace storeserver::admin {

inline constexpr std::string_view kPrefix = "/admin";
// The paths that take a large body: a file to import, a buy list.
inline constexpr std::string_view kUploadPath = "/admin/import";
inline constexpr std::string_view kBuyListPath = "/admin/sessions";

bool isAdminPath(std::string_view path);

// A refusal made around the pages (busy, stopping, failed) as a page the
// manager reads, never the handhelds' JSON.
HttpResponse refusalPage(int status, std::string_view sentence);

class Site {
 public:
  using Work = std::function<HttpResponse(storage::Connection&)>;
  using Runner = std::function<void(const Responder&, Work)>;
  struct Runners {
    Runner workers;
    Runner passwordChecks;
  };

  Site(SiteEnvironment environment, Runners runners);
  void handle(HttpRequest&& request, Responder respond);

 private:
  void route(HttpRequest&& request, const Responder& respond);

  SiteEnvironment environment_;
  Runners runners_;
};

}  // namespace storeserver::admin
