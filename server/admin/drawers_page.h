#pragma once
// The buyers' cash drawers: a store's day on one sheet, one drawer with its
// cash moves, and for a manager of the whole chain every store's day.
#include <string>

#include "server/admin/page.h"

namespace storeserver::admin {

// day=YYYY-MM-DD (today by default): the store's sheet of that day; with
// drawer=ID one drawer, its moves and forms; with sheet=chain every store's.
View showDrawers(PageContext& page);
// action=open (buyer, start), move (drawer, direction add or take, amount,
// reason), count (drawer, counted) or close (drawer).
std::string changeDrawer(PageContext& page, Audit& audit);
// file=csv: the sheet the page shows, as CSV.
CsvFile daySheetFile(PageContext& page);

}  // namespace storeserver::admin
