#pragma once
#include <QString>

// The text without its leading white space; trailing characters stay.
inline QString TrimLeading(const QString& text) {
  qsizetype blanks = 0;
  while (blanks < text.size() && text.at(blanks).isSpace()) ++blanks;
  return text.mid(blanks);
}
