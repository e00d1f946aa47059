#pragma once
// The Shipping page: per buying session and purchaser, what its ended tickets
// bought, as a packing list that prints, as CSV and as a sheet of labels.

#include "server/admin/page.h"

namespace storeserver::admin {

// The store's sessions to choose from; with session=ID its purchasers; with
// purchaser=NAME too its packing list, or with sheet=labels a label per copy.
View showShipping(PageContext& page);
// With file=csv, the packing list as a CSV file.
CsvFile packingListFile(PageContext& page);

}  // namespace storeserver::admin
