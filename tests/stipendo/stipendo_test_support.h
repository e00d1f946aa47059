#pragma once
// What the Stipendo tests share: a bounded wait on the event loop and the
// lookup dialog's result list read back as "label|value" lines.
#include <functional>
#include <string>
#include <vector>

class QTreeWidget;
class QWidget;

namespace stipendo_test {

// Runs the event loop until done() holds or boundMs pass; returns done().
bool waitUntil(const std::function<bool()>& done, int boundMs = 10000);
QTreeWidget* resultList(const QWidget* dialog);
std::vector<std::string> shownLines(const QWidget* dialog);

}  // namespace stipendo_test
