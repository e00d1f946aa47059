#include "tessel/transport_clock.h"

namespace {

class CSteadyClock : public CTransportClock {
 public:
  TimePoint Now() override { return std::chrono::steady_clock::now(); }
  void WaitUntil(std::condition_variable& changed, std::unique_lock<std::mutex>& lock, TimePoint deadline) override {
    changed.wait_until(lock, deadline);
  }
};

}  // namespace

CTransportClock& CTransportClock::Steady() {
  static CSteadyClock clock;
  return clock;
}
