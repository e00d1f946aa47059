#pragma once
// Test doubles on raw loopback sockets, for what the real store server never
// does: stay silent, answer garbage. Plus a plain receiver standing in for a
// network receipt printer. All bind 127.0.0.1 port 0.
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace transport_test {

// A port nothing listens on: bound, then released.
int refusedPort();

// Test double: listens and never accepts nor answers. The kernel completes
// the handshake, so a client connects and then waits for its answer.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  int port() const { return port_; }

 private:
  int port_ = 0;  // before fd_: the listening socket's set-up fills it in
  int fd_ = -1;
};

// Test double of an HTTP server: answers every request for a path with the
// fixed bytes given for it (a whole HTTP response, well-formed or not; empty:
// hang up instead) and records what was asked. Keeps a connection open for
// further requests.
class CannedHttpServer {
 public:
  explicit CannedHttpServer(std::map<std::string, std::string> responses);
  ~CannedHttpServer();
  int port() const { return port_; }
  // "PATH BODY" of every request so far.
  std::vector<std::string> requests() const;
  // Connections accepted so far.
  int connections() const;

 private:
  void run();
  void serve(int connection);

  std::map<std::string, std::string> responses_;
  int port_ = 0;  // before fd_: the listening socket's set-up fills it in
  int fd_ = -1;
  int wake_[2] = {-1, -1};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  int connections_ = 0;
  std::thread thread_;
};

// A whole HTTP/1.1 response with the body and its length.
std::string httpResponse(int status, const std::string& body);

// Accepts one connection and keeps every byte until the peer closes it.
class ByteReceiver {
 public:
  ByteReceiver();
  ~ByteReceiver();
  int port() const { return port_; }
  // Waits (bounded) for the peer to close; the bytes received, and whether it closed.
  bool waitClosed(int boundMs);
  std::string bytes() const;

 private:
  int port_ = 0;  // before fd_: the listening socket's set-up fills it in
  int fd_ = -1;
  mutable std::mutex mutex_;
  std::condition_variable doneChanged_;
  bool done_ = false;
  bool closed_ = false;
  std::string bytes_;
  std::thread thread_;
};

}  // namespace transport_test
