#pragma once
// Test double of the transport's clock: time stands still but for the test
// moving it and the transport pausing between tries, a pause moving it on to
// its end at once. A wait returns when notified or after a real millisecond,
// for the waiter to look at the clock again (as after a spurious wake-up), so
// a move is seen and no notification lost; no outcome depends on how long
// that takes.
#include <algorithm>
#include <chrono>
#include <mutex>

#include "tessel/transport_clock.h"

namespace testsupport {

class TransportClockDouble : public CTransportClock {
 public:
  TimePoint Now() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
  }
  void WaitUntil(std::condition_variable& changed, std::unique_lock<std::mutex>& lock, TimePoint) override {
    changed.wait_for(lock, std::chrono::milliseconds(1));
  }
  void PauseUntil(std::condition_variable&, std::unique_lock<std::mutex>&, TimePoint deadline) override {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ = std::max(now_, deadline);
  }
  // From any thread.
  void advance(std::chrono::milliseconds span) {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ += span;
  }

 private:
  std::mutex mutex_;
  TimePoint now_;
};

}  // namespace testsupport
