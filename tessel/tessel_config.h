#pragma once
// Where the shared library finds the store server, the scanner and the printer.
//
// Profile section "Tessel" (platform::Profile):
//   Server          store server address, "http://host:port" or "host:port"
//                   (https:// for TLS); no default: empty until configured
//   ConnectTimeout  seconds to wait for a connection (default 5)
//   ReadTimeout     seconds to wait for an answer (default 15)
//   SaveTimeout     seconds to keep sending a change again whose answer was
//                   lost, until the store server's own answer comes (default 60)
//   CAFile          PEM file of the certificate authority that signed the
//                   store server's certificate (https:// only); empty: the
//                   system's trusted authorities
//   AllowPlainHttp  not 0: log in over http:// to a server on another machine,
//                   where the password crosses the network in clear (default
//                   0: only a server on this machine is reached without TLS)
//   Scanner         barcode scanner: a tty or a named pipe; empty: no scanner
//   Printer         receipt printer: a device file, a file (appended to) or
//                   tcp://host:port; empty: no printer
//
// Command-line overrides (--server, --scanner, --printer) win over the profile
// and are never written back.
#include <QString>

#include "tessel/program_options.h"

class CTesselConfig {
 public:
  static constexpr int kDefaultConnectTimeout = 5;
  static constexpr int kDefaultReadTimeout = 15;
  static constexpr int kDefaultSaveTimeout = 60;

  static QString SectionName();

  // Records the server, scanner and printer the options name; later calls add
  // to or replace earlier overrides.
  static void Override(const ProgramOptions& options);
  static void ClearOverrides();

  // Effective values: override, else profile, else default.
  static QString GetServer();
  static int GetConnectTimeout();  // seconds, at least 1
  static int GetReadTimeout();     // seconds, at least 1
  static int GetSaveTimeout();     // seconds, at least 1
  static QString GetCAFile();
  static bool GetAllowPlainHttp();
  static QString GetScanner();
  static QString GetPrinter();
};
