#include "tessel/scanner.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "platform/dialog.h"
#include "platform/window_messages.h"
#include "tessel/tessel_config.h"

Q_LOGGING_CATEGORY(lcScanner, "tessel.scanner")

namespace {

// Raw 9600 8N1: the scanner's bytes arrive as sent, line ends included.
bool makeRaw(int fd, QByteArray& saved) {
  termios attributes{};
  if (tcgetattr(fd, &attributes) != 0) return false;
  saved = QByteArray(reinterpret_cast<const char*>(&attributes), sizeof attributes);
  cfmakeraw(&attributes);
  cfsetispeed(&attributes, B9600);
  cfsetospeed(&attributes, B9600);
  attributes.c_cflag &= ~(CSTOPB | PARENB | CSIZE);
  attributes.c_cflag |= CS8 | CLOCAL | CREAD;
  attributes.c_cc[VMIN] = 1;
  attributes.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &attributes) == 0;
}

// Drops a multi-byte UTF-8 sequence that the cut left incomplete.
void trimBrokenUtf8(QByteArray& bytes) {
  qsizetype start = bytes.size();
  while (start > 0 && (uchar(bytes[start - 1]) & 0xC0) == 0x80) --start;
  if (start == 0) return;
  const uchar lead = uchar(bytes[start - 1]);
  const qsizetype have = bytes.size() - (start - 1);
  const qsizetype need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (have < need) bytes.truncate(start - 1);
}

}  // namespace

CScanner::CScanner() = default;

CScanner::~CScanner() { CloseScanner(); }

bool CScanner::Init(platform::Dialog* window) {
  CloseScanner();
  const QString path = CTesselConfig::GetScanner();
  if (!window || path.isEmpty()) return false;

  const QByteArray native = path.toLocal8Bit();
  // O_RDWR: a named pipe keeps a writer of its own, so it never reads as ended
  // when the sending program closes; O_NONBLOCK: neither open nor read waits.
  const int fd = ::open(native.constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    qCInfo(lcScanner).noquote() << "cannot open scanner" << path << ":" << qt_error_string(errno);
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !(S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode))) {
    // A regular file would read as ready forever and spin the UI thread.
    qCInfo(lcScanner).noquote() << "scanner" << path << "is neither a device nor a named pipe";
    ::close(fd);
    return false;
  }
  if (isatty(fd)) m_bRestoreTty = makeRaw(fd, m_savedTty);

  m_fd = fd;
  m_window = window;
  m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
  return true;
}

void CScanner::CloseScanner() {
  m_notifier.reset();
  if (m_fd >= 0) {
    if (m_bRestoreTty && m_savedTty.size() == qsizetype(sizeof(termios)))
      tcsetattr(m_fd, TCSANOW, reinterpret_cast<const termios*>(m_savedTty.constData()));
    ::close(m_fd);
  }
  m_fd = -1;
  m_bRestoreTty = false;
  m_savedTty.clear();
  m_window.clear();
  m_passThrough.clear();
  m_line.clear();
  m_bOverLong = false;
  m_bAfterCR = false;
  m_codes.clear();
}

void CScanner::OnReadable() {
  char buffer[512];
  for (;;) {
    const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
    if (got > 0) {
      TakeBytes(buffer, got);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    // End of file or an error: the device went away. Stop watching it rather
    // than be woken for it again and again.
    qCInfo(lcScanner) << "scanner stopped delivering:"
                      << (got == 0 ? QStringLiteral("end of input") : qt_error_string(errno));
    if (m_notifier) m_notifier->setEnabled(false);
    return;
  }
}

void CScanner::TakeBytes(const char* data, qsizetype size) {
  for (qsizetype i = 0; i < size; ++i) {
    const char c = data[i];
    const bool afterCR = m_bAfterCR;
    m_bAfterCR = c == '\r';
    if (c == '\n' && afterCR) continue;  // the LF of a CRLF
    if (c == '\r' || c == '\n') {
      EndLine();
      continue;
    }
    if (m_line.size() < kMaxCodeBytes) m_line.append(c);
    else m_bOverLong = true;
  }
}

void CScanner::EndLine() {
  if (m_bOverLong) trimBrokenUtf8(m_line);
  const QString code = QString::fromUtf8(m_line).trimmed();
  m_line.clear();
  m_bOverLong = false;
  if (code.isEmpty()) return;
  m_codes.enqueue(code);
  if (m_window) m_window->postMessage(platform::WM_SCANNER);
}

bool CScanner::WindowTakesScans() const {
  const QWidget* modal = QApplication::activeModalWidget();
  return !modal || modal == m_window || (m_passThrough && modal == m_passThrough);
}

// Checked when the code is handed over, not when it was read: a box opened by
// the previous code runs its own event loop, in which this message arrives.
qintptr CScanner::OnScannerMsg(const QVariant&, const QVariant&) {
  if (m_codes.isEmpty() || !m_window) return 0;
  const QString code = m_codes.dequeue();
  if (!WindowTakesScans()) {
    qCInfo(lcScanner).noquote() << "scan" << code << "dropped: another window is open";
    QApplication::beep();
    return 0;
  }
  m_window->sendMessage(platform::WM_SCAN_DATA, code);
  return 0;
}
