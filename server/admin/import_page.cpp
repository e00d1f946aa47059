#include "server/admin/import_page.h"

#include "server/import/importer.h"

namespace storeserver::admin {

namespace {

// A file may name any store, and keys such as a user's name are the
// chain's: only a manager of the whole chain imports, as the console does.
void mayImport(const PageContext& page) {
  if (!page.manager.chainWide)
    throw Refusal("Only a manager of the whole chain may import files; they may change every store's data.");
}

}  // namespace

View showImport(PageContext& page) {
  ViewList kinds;
  for (const std::string& line : importKinds()) {
    const std::string name = line.substr(0, line.find(':'));
    View kind;
    kind.set("name", name);
    kind.set("columns", line.substr(line.find(':') + 2));
    kind.set("selected", name == page.form["kind"]);
    kinds.push_back(kind);
  }
  View view;
  view.set("kinds", kinds);
  view.set("mayImport", page.manager.chainWide);
  return view;
}

std::string importFile(PageContext& page, Audit& audit) {
  mayImport(page);
  const std::string& kind = page.form["kind"];
  const std::string& file = page.form["file"];
  if (file.empty()) throw Refusal("Choose a CSV file to import.");
  std::string message;
  if (!importCsv(page.db, kind, file, page.site.passwordCost, message, ImportTransaction::Callers,
                 page.manager.account()))
    throw Refusal(message);
  audit.record("import", kind + ": " + message);
  return message;
}

}  // namespace storeserver::admin
