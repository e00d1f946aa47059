#include "tests/support/forwarding_double.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace testsupport {

namespace {
// Long enough for any test step, short enough that a forgotten release never hangs the run.
constexpr auto kLongestHold = std::chrono::seconds(10);

const char* kBadGatewayPage = "<html><head><title>502 Bad Gateway</title></head><body>502 Bad Gateway</body></html>";
const char* kUnavailablePage = "<html><body><h1>503 Service Unavailable</h1></body></html>";
}  // namespace

LoopbackHttp::LoopbackHttp(const Handler& handle) {
  server_.Post(".*", handle);
  // One request a connection: a kept one would hold a server thread while a frozen answer holds others.
  server_.set_keep_alive_max_count(1);
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("cannot listen on 127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // A stop before the loop runs would be lost and the destructor's join would wait for ever.
  const auto deadline = std::chrono::steady_clock::now() + kLongestHold;
  while (!server_.is_running() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (!server_.is_running()) {  // neither stoppable nor safe to leave: end the run with the reason
    std::fputs("LoopbackHttp: the test double did not start serving within 10 seconds\n", stderr);
    std::abort();
  }
}

LoopbackHttp::~LoopbackHttp() {
  server_.stop();
  thread_.join();
}

QString LoopbackHttp::address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }

ForwardingDouble::ForwardingDouble(int serverPort) : serverPort_(serverPort) {}

ForwardingDouble::~ForwardingDouble() { release(); }

// The request text travels as a JSON string inside the exchange, its quotes escaped.
void ForwardingDouble::arm(Fault fault, const std::string& requestKind) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::tie(armed_, played_, fault_, marker_) = std::tuple(true, false, fault, "\\\"" + requestKind + "\\\"");
}

void ForwardingDouble::release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frozen_ = false;
    if (fault_ == Fault::Unavailable) armed_ = false;
  }
  thawed_.notify_all();
}

bool ForwardingDouble::played() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return played_;
}

bool ForwardingDouble::takeFault(const std::string& body, Fault& fault) {
  if (!armed_ || body.find(marker_) == std::string::npos) return false;
  std::tie(armed_, played_, fault) = std::tuple(fault_ == Fault::Unavailable, true, fault_);
  frozen_ = fault == Fault::Freeze;
  return true;
}

void ForwardingDouble::waitWhileFrozen(std::unique_lock<std::mutex>& lock) {
  thawed_.wait_for(lock, kLongestHold, [this] { return !frozen_; });
}

void ForwardingDouble::relay(const httplib::Request& request, httplib::Response& response) {
  Fault fault{};
  bool faulty = false;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    waitWhileFrozen(lock);
    faulty = takeFault(request.body, fault);
  }
  if (faulty && fault == Fault::Unavailable) {
    response.status = 503;
    response.set_content(kUnavailablePage, "text/html");
    return;
  }
  httplib::Client server("127.0.0.1", serverPort_);
  const auto answer = server.Post(request.path, request.body, "application/json");
  if (!answer || (faulty && fault == Fault::BadGateway)) {
    response.status = 502;
    response.set_content(kBadGatewayPage, "text/html");
    return;
  }
  response.status = answer->status;
  if (faulty && fault == Fault::Close) {
    response.set_content_provider(answer->body.size(), "application/json",
                                  [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
    return;
  }
  if (faulty && fault == Fault::Freeze) {
    std::unique_lock<std::mutex> lock(mutex_);
    waitWhileFrozen(lock);
  }
  response.set_content(answer->body, "application/json");
}

}  // namespace testsupport
