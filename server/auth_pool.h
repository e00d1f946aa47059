#pragma once
// Password checks apart from the database workers. An Argon2 check takes 64
// MiB and tens of milliseconds, so log-ins and the exchanges that check a
// buyer's password run here, on a few threads with a short queue of their
// own; beyond it they are refused at once, and a flood of log-ins never
// delays the handhelds' queries and updates.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "server/worker_pool.h"

namespace storeserver {

// Tests only: while held, every job of the pool waits at its start, so a test
// can fill the pool without racing it.
class AuthPoolGate {
 public:
  void hold();
  void release();
  // Wait until the pool has taken this many jobs since the gate was made, or
  // until every job it took has finished and left the pool. False when the
  // deadline came first.
  bool waitTaken(std::size_t jobs, std::chrono::steady_clock::time_point deadline);
  bool waitIdle(std::chrono::steady_clock::time_point deadline);

  // The pool's side.
  void taken();
  void pass();
  void finished();

 private:
  bool waitUntil(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& done);

  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  std::size_t taken_ = 0;
  std::size_t finished_ = 0;
};

class AuthPool {
 public:
  // One thread per connection; at most queueLimit jobs wait for a thread.
  AuthPool(std::vector<std::unique_ptr<storage::Connection>> connections, std::size_t queueLimit,
           std::shared_ptr<AuthPoolGate> gate);
  ~AuthPool();  // stops

  enum class Submitted { Taken, Full, Stopping };
  // Full: every thread is busy and the queue holds its limit; the job is then
  // neither run nor cancelled, as when the pool is stopping.
  Submitted submit(WorkerPool::Job job);
  // Lets running jobs finish, cancels queued ones, joins the threads.
  void stop();

 private:
  void leave();

  const std::size_t capacity_;  // running and queued
  std::atomic<std::size_t> jobs_{0};
  std::shared_ptr<AuthPoolGate> gate_;
  WorkerPool workers_;
};

// Whether the calling thread is one of an AuthPool's: no other may hash a
// password, or a flood of them could hold the threads that answer queries.
bool onAuthPool();

}  // namespace storeserver
