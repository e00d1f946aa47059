#pragma once
// The command line every program takes, read before Qt opens the display so
// that --help and a mistake are answered on a machine without one.
//
//   --server URL  --scanner PATH  --printer DEST  --profile-dir DIR  --scale N
// each as "--name value" or "--name=value"; --help (or -h) anywhere asks for
// the usage and nothing else.
#include <QString>
#include <QStringList>
#include <optional>

// Every member has its initializer, so {.printer = ...} names one without a
// compiler warning for the rest.
struct ProgramOptions {
  bool help = false;
  std::optional<QString> server{};
  std::optional<QString> scanner{};
  std::optional<QString> printer{};
  std::optional<QString> profileDirectory{};
  std::optional<double> scale{};  // above 0, at most 8
};

// Reads the arguments (the program's name first). nullopt and a sentence in
// error for an unknown option, a missing value or a scale out of range.
std::optional<ProgramOptions> parseProgramOptions(const QStringList& arguments, QString& error);
