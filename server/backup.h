#pragma once
#include <string>

namespace storeserver {

// Copies the SQLite database at source to destination while servers keep
// reading and writing it: one read transaction, so the copy is the database
// as it stood at one moment. The copy is a single file (no WAL beside it),
// checked with integrity_check, and only then renamed onto destination, so a
// failed backup never leaves a broken file there. False and a sentence in
// error when the source is missing or unreadable, or the copy cannot be made.
bool backupDatabase(const std::string& source, const std::string& destination, std::string& error);

}  // namespace storeserver
