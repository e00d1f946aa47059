#pragma once
// The receipt printer: a raw destination the server-formatted text goes to
// unchanged. Configured by CTesselConfig::GetPrinter as a device file
// (/dev/usb/lp0), a file (appended to) or tcp://host:port.
#include <QString>

class CPrinter {
 public:
  CPrinter();
  ~CPrinter();
  CPrinter(const CPrinter&) = delete;
  CPrinter& operator=(const CPrinter&) = delete;

  // False when no printer is configured or it cannot be opened; then nothing is printed.
  bool Open();
  bool IsOpen() const { return m_fd >= 0; }
  // Writes the whole text as UTF-8. False when not open or the write fails or stops short.
  bool Print(const QString& text);
  void Close();

 private:
  int m_fd = -1;
  bool m_bSocket = false;
};
