#pragma once
// The barcode scanner: a line-oriented device (a tty, or a named pipe for the
// demo and the tests), each line one code. Reads happen on the UI thread when
// the device has data; the window gets WM_SCANNER per complete line and hands
// it back to OnScannerMsg, which sends the code as WM_SCAN_DATA. A code is
// handed over trimmed of blanks; an empty line is no code. While a message box
// or another modal window is open over the window, a code is dropped with a
// beep: it would be looked up behind the box, and boxes would pile up.
#include <QByteArray>
#include <QPointer>
#include <QQueue>
#include <QString>
#include <QVariant>
#include <memory>

class QSocketNotifier;
class QWidget;

namespace platform {
class Dialog;
}

class CScanner {
 public:
  // Longer lines are cut to this many bytes; the rest up to the line end is dropped.
  static constexpr int kMaxCodeBytes = 256;

  CScanner();
  ~CScanner();
  CScanner(const CScanner&) = delete;
  CScanner& operator=(const CScanner&) = delete;

  // Opens the configured scanner (CTesselConfig::GetScanner) for the window.
  // False, and nothing happens afterwards, when none is configured or it
  // cannot be opened: the dialog then works with typed input only.
  bool Init(platform::Dialog* window);
  bool IsOpen() const { return m_fd >= 0; }

  // Handler of WM_SCANNER: sends the next code to the window as WM_SCAN_DATA
  // (wParam: the code as text), or drops it when another modal window is open.
  // Returns 0.
  qintptr OnScannerMsg(const QVariant& wParam, const QVariant& lParam);

  // While dialog is the active modal window, codes still reach this scanner's
  // window, which hands them on to it (a prompt for a scanned ID that the
  // window opens). nullptr ends that; so does closing the dialog for good.
  void LetScansThrough(QWidget* dialog) { m_passThrough = dialog; }

  // Releases the device; codes not yet handed over are dropped.
  void CloseScanner();

 private:
  void OnReadable();
  void TakeBytes(const char* data, qsizetype size);
  void EndLine();
  bool WindowTakesScans() const;

  int m_fd = -1;
  bool m_bRestoreTty = false;
  QByteArray m_savedTty;  // termios of a tty, put back on close
  std::unique_ptr<QSocketNotifier> m_notifier;
  QPointer<platform::Dialog> m_window;
  QPointer<QWidget> m_passThrough;
  QByteArray m_line;
  bool m_bOverLong = false;
  bool m_bAfterCR = false;
  QQueue<QString> m_codes;
};
