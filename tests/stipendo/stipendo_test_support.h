#pragma once
// What the Stipendo tests share: a bounded wait on the event loop and the
// lookup dialog's result list read back as text.
#include <functional>
#include <string>
#include <vector>

class QTreeWidget;
class QWidget;

namespace stipendo_test {

// Runs the event loop until done() holds or boundMs pass; returns done().
bool waitUntil(const std::function<bool()>& done, int boundMs = 10000);

// The result list (child 10001) of a lookup dialog, or nullptr.
QTreeWidget* resultList(const QWidget* dialog);
// Its lines as "label|value", in order; empty without a list.
std::vector<std::string> shownLines(const QWidget* dialog);
// The lines of one account as the dialog shows them.
std::vector<std::string> accountLines(const std::string& agency, const std::string& start,
                                      const std::string& expire, const std::string& balance,
                                      const std::string& limit, const std::string& available);
std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> accounts);

}  // namespace stipendo_test
