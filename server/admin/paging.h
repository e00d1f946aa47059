#pragma once
// A list shown a page at a time, read on the server: the page asked for in
// the URL's "page" field, kept within the pages there are.
#include <algorithm>
#include <cstdint>
#include <string>

#include "server/admin/forms.h"
#include "server/admin/templates.h"

namespace storeserver::admin {

class Paging {
 public:
  Paging(const Fields& query, std::int64_t rows, std::int64_t perPage)
      : perPage_(perPage), pages_(std::max<std::int64_t>(1, (rows + perPage - 1) / perPage)),
        page_(std::clamp<std::int64_t>(query.number("page").value_or(1), 1, pages_)) {}

  std::int64_t offset() const { return (page_ - 1) * perPage_; }
  std::int64_t limit() const { return perPage_; }

  // pager.html's parts: the page, how many, and links to the pages beside it.
  // base: the list's address with its query ("/admin/users?store=1").
  void describe(View& view, const std::string& base) const {
    View pager;
    pager.set("page", std::to_string(page_));
    pager.set("pages", std::to_string(pages_));
    if (page_ > 1) pager.set("previous", base + "&page=" + std::to_string(page_ - 1));
    if (page_ < pages_) pager.set("next", base + "&page=" + std::to_string(page_ + 1));
    view.set("pager", pager);
  }

 private:
  std::int64_t perPage_;
  std::int64_t pages_;
  std::int64_t page_;
};

}  // namespace storeserver::admin
