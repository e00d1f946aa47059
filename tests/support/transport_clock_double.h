#pragma once
// Test double of the transport's clock: time stands still but for the test
// moving it and the transport pausing between tries, a pause moving it on to
// its end at once. A wait ends when it is notified, or when the test moves the
// clock to its deadline, as it would on the steady clock; never by itself.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <iterator>
#include <mutex>
#include <vector>

#include "tessel/transport_clock.h"

namespace testsupport {

class TransportClockDouble : public CTransportClock {
 public:
  TimePoint Now() override { return TimePoint(TimePoint::duration(now_.load())); }
  void WaitUntil(std::condition_variable& changed, std::unique_lock<std::mutex>& lock, TimePoint deadline) override {
    const Waiter waiter{&changed, lock.mutex(), deadline};
    {
      std::lock_guard<std::mutex> guard(waitersMutex_);
      waiters_.push_back(waiter);
    }
    // A move before the waiter was listed has already moved the time looked at here.
    if (Now() < deadline) changed.wait(lock);
    std::lock_guard<std::mutex> guard(waitersMutex_);
    waiters_.erase(std::find(waiters_.begin(), waiters_.end(), waiter));
  }
  void PauseUntil(std::condition_variable&, std::unique_lock<std::mutex>&, TimePoint deadline) override {
    const TimePoint::rep end = deadline.time_since_epoch().count();
    for (TimePoint::rep now = now_.load(); now < end && !now_.compare_exchange_weak(now, end);) {
    }
  }
  // From any thread but one holding a waiter's mutex.
  void advance(std::chrono::milliseconds span) {
    now_ += std::chrono::duration_cast<TimePoint::duration>(span).count();
    std::vector<Waiter> due;
    {
      std::lock_guard<std::mutex> guard(waitersMutex_);
      std::copy_if(waiters_.begin(), waiters_.end(), std::back_inserter(due),
                   [this](const Waiter& w) { return Now() >= w.deadline; });
    }
    for (const Waiter& w : due) {
      std::lock_guard<std::mutex> guard(*w.mutex);
      w.changed->notify_all();
    }
  }

 private:
  struct Waiter {
    std::condition_variable* changed;
    std::mutex* mutex;
    TimePoint deadline;
    bool operator==(const Waiter&) const = default;
  };

  std::atomic<TimePoint::rep> now_{0};
  std::mutex waitersMutex_;
  std::vector<Waiter> waiters_;  // waiting for a deadline
};

}  // namespace testsupport
