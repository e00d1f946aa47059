#include "server/admin/templates.h"

#include <map>
#include <stdexcept>

namespace storeserver::admin {

// Written at build time from the files of templates/.
const std::map<std::string_view, std::string_view>& embeddedFiles();

std::string_view embeddedFile(std::string_view name) {
  const auto& files = embeddedFiles();
  const auto found = files.find(name);
  if (found == files.end()) throw std::logic_error("no back-office template " + std::string(name));
  return found->second;
}

namespace {

// Partials come from the embedded files, never from a view's data.
class EmbeddedContext : public kainjow::mustache::context<std::string> {
 public:
  EmbeddedContext(const View* view, std::string_view pageTemplate)
      : kainjow::mustache::context<std::string>(view), pageTemplate_(pageTemplate) {}
  const View* get_partial(const std::string& name) const override {
    auto [found, added] = partials_.try_emplace(name);
    if (added) found->second = View(std::string(embeddedFile((name == "page" ? pageTemplate_ : name) + ".html")));
    return &found->second;
  }

 private:
  std::string pageTemplate_;
  mutable std::map<std::string, View> partials_;
};

}  // namespace

std::string render(std::string_view templateName, const View& view, std::string_view pageTemplate) {
  kainjow::mustache::mustache tmpl{std::string(embeddedFile(templateName))};
  if (!tmpl.is_valid()) throw std::logic_error(std::string(templateName) + ": " + tmpl.error_message());
  EmbeddedContext context(&view, pageTemplate);
  std::string out = tmpl.render(context);
  if (!tmpl.is_valid()) throw std::logic_error(std::string(templateName) + ": " + tmpl.error_message());
  return out;
}

}  // namespace storeserver::admin
