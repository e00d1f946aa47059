#pragma once
// The time the transport keeps: how long an exchange may take, the pauses
// between the tries of a change whose answer was lost, and how long the clerk
// has waited. The programs keep it by the steady clock; a test gives
// CSocketMessage a clock it moves itself, so a save time-out passes without
// real seconds passing.
#include <chrono>
#include <condition_variable>
#include <mutex>

class CTransportClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // The steady clock of the machine.
  static CTransportClock& Steady();

  virtual ~CTransportClock() = default;
  virtual TimePoint Now() = 0;
  // Waits on changed, whose mutex lock holds, until it is notified or Now()
  // reaches deadline. It may return sooner: the caller looks again.
  virtual void WaitUntil(std::condition_variable& changed, std::unique_lock<std::mutex>& lock, TimePoint deadline) = 0;
  // The same for a pause between two tries, while nothing else is under way:
  // a clock a test moves may move on to the deadline at once.
  virtual void PauseUntil(std::condition_variable& changed, std::unique_lock<std::mutex>& lock, TimePoint deadline) {
    WaitUntil(changed, lock, deadline);
  }
};
