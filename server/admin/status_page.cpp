#include "server/admin/status_page.h"

#include "wire/money.h"

namespace storeserver::admin {

View showStatus(PageContext& page) {
  const SiteEnvironment& site = page.site;
  View view;
  view.set("version", std::string(STORESERVER_VERSION));
  view.set("database", site.databaseKind);
  view.set("connections", wire::formatCount(std::int64_t(site.openConnections())));
  view.set("exchanges", wire::formatCount(std::int64_t(site.exchanges.lastMinute(page.site.services.clock()))));
  ViewList problems;
  for (const std::string& line : site.services.log.recentProblems()) problems.push_back(View(line));
  view.set("problems", problems);
  view.set("noProblems", problems.empty());
  return view;
}

}  // namespace storeserver::admin
