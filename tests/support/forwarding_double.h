#pragma once
// Test doubles of what may stand between a handheld and the store server.
#include <QString>
#include <httplib.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace testsupport {

// Test double of an HTTP peer on 127.0.0.1: handle answers every POST on a thread of its own.
class LoopbackHttp {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
  explicit LoopbackHttp(const Handler& handle);
  ~LoopbackHttp();
  // "127.0.0.1:<port>"
  QString address() const;

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

// Test double of a balancer before the real server: relays all, but the next exchange holding the armed
// marker, once the server applied it, gets a 502 page (BadGateway), its answer and every later request held
// until release() or 10 s (Freeze), or the connection closed (Close); or every exchange holding it gets a 503
// page, unforwarded, until release() (Unavailable).
class ForwardingDouble {
 public:
  enum class Fault { BadGateway, Freeze, Close, Unavailable };

  explicit ForwardingDouble(int serverPort);
  ~ForwardingDouble();
  QString address() const { return http_.address(); }

  void arm(Fault fault, const std::string& requestKind);
  // Lets held requests and answers go on; forwards again what was Unavailable.
  void release();
  // True once the armed fault was played.
  bool played() const;

 private:
  void relay(const httplib::Request& request, httplib::Response& response);
  // Takes the armed fault when the body holds its marker.
  bool takeFault(const std::string& body, Fault& fault);
  void waitWhileFrozen(std::unique_lock<std::mutex>& lock);

  int serverPort_;
  mutable std::mutex mutex_;
  std::condition_variable thawed_;
  bool armed_ = false;
  bool played_ = false;
  bool frozen_ = false;
  Fault fault_ = Fault::BadGateway;
  std::string marker_;
  LoopbackHttp http_{[this](const auto& request, auto& response) { relay(request, response); }};  // stops first
};

}  // namespace testsupport
