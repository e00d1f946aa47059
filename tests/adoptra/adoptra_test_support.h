#pragma once
// The Adoptra dialog's result rows and a detail display's lines, as text.
#include <string>
#include <vector>

class QWidget;

namespace adoptra_test {

// Each result row as "DEPT|CRS|SEC|record index".
std::vector<std::string> rows(const QWidget* lookupDialog);
// Each line of a detail display as "label|value".
std::vector<std::string> detailLines(const QWidget* detailDialog);

}  // namespace adoptra_test
