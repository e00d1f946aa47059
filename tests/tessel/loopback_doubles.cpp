#include "loopback_doubles.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace transport_test {

namespace {

int listenLoopback(int& port, int backlog = 8) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port = ntohs(address.sin_port);
  return fd;
}

// Waits for fd or the wake pipe; false when woken to stop.
bool waitReadable(int fd, int wake) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (fds[1].revents & POLLIN)) return false;
    return true;
  }
}

}  // namespace

int refusedPort() {
  int port = 0;
  ::close(listenLoopback(port));
  return port;
}

SilentListener::SilentListener() : fd_(listenLoopback(port_)) {}

SilentListener::~SilentListener() { ::close(fd_); }

std::string httpResponse(int status, const std::string& body) {
  return "HTTP/1.1 " + std::to_string(status) + " Canned\r\nContent-Type: application/json\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

CannedHttpServer::CannedHttpServer(std::map<std::string, std::string> responses)
    : responses_(std::move(responses)), fd_(listenLoopback(port_)) {
  if (::pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  thread_ = std::thread([this] { run(); });
}

CannedHttpServer::~CannedHttpServer() {
  (void)!::write(wake_[1], "x", 1);
  thread_.join();
  ::close(fd_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

std::vector<std::string> CannedHttpServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

int CannedHttpServer::connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

void CannedHttpServer::run() {
  while (waitReadable(fd_, wake_[0])) {
    const int connection = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++connections_;
    }
    serve(connection);
    ::close(connection);
  }
}

void CannedHttpServer::serve(int connection) {
  std::string buffer;
  char chunk[4096];
  for (;;) {
    // One request: the head up to the blank line, then Content-Length bytes.
    std::size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (!waitReadable(connection, wake_[0])) return;
      const ssize_t got = ::recv(connection, chunk, sizeof chunk, 0);
      if (got <= 0) return;
      buffer.append(chunk, std::size_t(got));
    }
    const std::string head = buffer.substr(0, headEnd);
    std::size_t bodyLength = 0;
    for (const char* name : {"Content-Length: ", "content-length: "}) {
      const auto at = head.find(name);
      if (at != std::string::npos) bodyLength = std::stoul(head.substr(at + std::char_traits<char>::length(name)));
    }
    while (buffer.size() < headEnd + 4 + bodyLength) {
      if (!waitReadable(connection, wake_[0])) return;
      const ssize_t got = ::recv(connection, chunk, sizeof chunk, 0);
      if (got <= 0) return;
      buffer.append(chunk, std::size_t(got));
    }
    const std::size_t pathStart = head.find(' ') + 1;
    const std::string path = head.substr(pathStart, head.find(' ', pathStart) - pathStart);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(path + " " + buffer.substr(headEnd + 4, bodyLength));
    }
    buffer.erase(0, headEnd + 4 + bodyLength);
    const auto response = responses_.find(path);
    const std::string answer = response != responses_.end() ? response->second : httpResponse(404, "{}");
    if (answer.empty()) return;  // hang up without answering
    if (::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL) != ssize_t(answer.size())) return;
  }
}

ByteReceiver::ByteReceiver() : fd_(listenLoopback(port_)) {
  thread_ = std::thread([this] {
    bool closed = false;
    // Bounded, so a test that never connects or never closes cannot hang the run.
    pollfd p{fd_, POLLIN, 0};
    const int connection = ::poll(&p, 1, 10000) == 1 ? ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    char chunk[4096];
    while (connection >= 0) {
      pollfd c{connection, POLLIN, 0};
      if (::poll(&c, 1, 10000) != 1) break;
      const ssize_t got = ::recv(connection, chunk, sizeof chunk, 0);
      if (got <= 0) {
        closed = got == 0;
        break;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      bytes_.append(chunk, std::size_t(got));
    }
    if (connection >= 0) ::close(connection);
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = closed;
    done_ = true;
    doneChanged_.notify_all();
  });
}

ByteReceiver::~ByteReceiver() {
  thread_.join();
  ::close(fd_);
}

bool ByteReceiver::waitClosed(int boundMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  doneChanged_.wait_for(lock, std::chrono::milliseconds(boundMs), [this] { return done_; });
  return closed_;
}

std::string ByteReceiver::bytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

}  // namespace transport_test
