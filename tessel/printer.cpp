#include "tessel/printer.h"

#include <QLoggingCategory>
#include <QUrl>

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "tessel/tessel_config.h"

Q_LOGGING_CATEGORY(lcPrinter, "tessel.printer")

namespace {

void setBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

// Connects within the configured connect timeout; -1 when no address answers.
int connectTcp(const QString& destination) {
  const QUrl url(destination, QUrl::StrictMode);
  const int port = url.port(-1);
  if (!url.isValid() || url.host().isEmpty() || port <= 0) {
    qCInfo(lcPrinter).noquote() << "printer address" << destination << "needs a host and a port";
    return -1;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const QByteArray host = url.host().toUtf8();
  const QByteArray service = QByteArray::number(port);
  if (getaddrinfo(host.constData(), service.constData(), &hints, &found) != 0) return -1;

  const int timeoutMs = CTesselConfig::GetConnectTimeout() * 1000;
  int fd = -1;
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    bool connected = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
    if (!connected && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int error = 0;
      socklen_t length = sizeof error;
      connected =
          ::poll(&p, 1, timeoutMs) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    if (!connected) {
      ::close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd >= 0) {
    setBlocking(fd);
    // A printer that stops taking data must not hang the UI thread for ever.
    timeval timeout{CTesselConfig::GetReadTimeout(), 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  }
  return fd;
}

int openPath(const QString& path) {
  const QByteArray native = path.toLocal8Bit();
  int flags = O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC | O_NONBLOCK;
  // Create plain files only: a missing device must fail, not become a file in /dev.
  if (!path.startsWith(QLatin1String("/dev/"))) flags |= O_CREAT;
  // O_NONBLOCK for the open alone, so a named pipe without a reader fails at once.
  const int fd = ::open(native.constData(), flags, 0644);
  if (fd >= 0) setBlocking(fd);
  return fd;
}

}  // namespace

CPrinter::CPrinter() = default;

CPrinter::~CPrinter() { Close(); }

bool CPrinter::Open() {
  Close();
  const QString destination = CTesselConfig::GetPrinter();
  if (destination.isEmpty()) return false;
  m_bSocket = destination.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive);
  m_fd = m_bSocket ? connectTcp(destination) : openPath(destination);
  if (m_fd < 0) {
    qCInfo(lcPrinter).noquote() << "cannot open printer" << destination;
    m_bSocket = false;
    return false;
  }
  return true;
}

bool CPrinter::Print(const QString& text) {
  if (m_fd < 0) return false;
  const QByteArray bytes = text.toUtf8();
  qsizetype done = 0;
  while (done < bytes.size()) {
    const char* data = bytes.constData() + done;
    const std::size_t left = std::size_t(bytes.size() - done);
    // MSG_NOSIGNAL: a printer that hung up must not end the program with SIGPIPE.
    const ssize_t wrote = m_bSocket ? ::send(m_fd, data, left, MSG_NOSIGNAL) : ::write(m_fd, data, left);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      qCInfo(lcPrinter).noquote() << "printing stopped after" << done << "of" << bytes.size()
                                  << "bytes:" << qt_error_string(errno);
      return false;
    }
    done += wrote;
  }
  return true;
}

void CPrinter::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_bSocket = false;
}
