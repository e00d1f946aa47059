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

// Test double of an HTTP peer on 127.0.0.1: handle answers every POST, on a
// thread of the server's own.
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

// Test double of a balancer in front of the real store server: passes every
// request on and relays its answer, except the next exchange whose body holds
// the marker it was armed with. That one reaches the server (which applies
// it), and then:
//   BadGateway  the answer is a balancer's 502 page;
//   Freeze      its answer, and every later request before it is passed on,
//               is held until release() (or 10 seconds), as a frozen server does;
//   Close       the connection closes without an answer.
class ForwardingDouble {
 public:
  enum class Fault { BadGateway, Freeze, Close };

  explicit ForwardingDouble(int serverPort);
  ~ForwardingDouble();
  QString address() const { return http_.address(); }

  void arm(Fault fault, const std::string& requestKind);
  // Lets held requests and answers go on.
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
