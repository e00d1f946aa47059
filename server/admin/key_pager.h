#pragma once
// A page of a list read by key, as the URL asks for it and as the pager
// (key_pager.html) links to the pages beside it: from=after or before with
// the key of the row next to the page in k0, k1, ...; from=last; otherwise
// the first page.
#include <string>
#include <string_view>

#include "server/admin/forms.h"
#include "server/admin/keyset.h"
#include "server/admin/templates.h"

namespace storeserver::admin {

inline constexpr std::size_t kRowsPerPage = 50;

PageAsk pageAskOf(const Fields& query, const KeyedList& list, std::size_t rows = kRowsPerPage);

// The list's page, with its pager in view; base is the list's address with
// its query ("/admin/tickets?store=1&day=2026-05-04").
KeyedPage readPage(storage::Connection& db, const KeyedList& list, const Fields& query, View& view,
                   const std::string& base, std::size_t rows = kRowsPerPage);

// Text as one value of a URL's query: "Book & Co" gives "Book%20%26%20Co".
std::string urlEncoded(std::string_view text);

}  // namespace storeserver::admin
