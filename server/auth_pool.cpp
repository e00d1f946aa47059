#include "server/auth_pool.h"

namespace storeserver {

namespace {
thread_local bool authPoolThread = false;
}  // namespace

void AuthPoolGate::hold() {
  std::lock_guard lock(mutex_);
  held_ = true;
}

void AuthPoolGate::release() {
  {
    std::lock_guard lock(mutex_);
    held_ = false;
  }
  changed_.notify_all();
}

bool AuthPoolGate::waitUntil(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& done) {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, deadline, done);
}

bool AuthPoolGate::waitTaken(std::size_t jobs, std::chrono::steady_clock::time_point deadline) {
  return waitUntil(deadline, [&] { return taken_ >= jobs; });
}

bool AuthPoolGate::waitIdle(std::chrono::steady_clock::time_point deadline) {
  return waitUntil(deadline, [&] { return finished_ == taken_; });
}

void AuthPoolGate::taken() {
  {
    std::lock_guard lock(mutex_);
    ++taken_;
  }
  changed_.notify_all();
}

void AuthPoolGate::finished() {
  {
    std::lock_guard lock(mutex_);
    ++finished_;
  }
  changed_.notify_all();
}

void AuthPoolGate::pass() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return !held_; });
}

AuthPool::AuthPool(std::vector<std::unique_ptr<storage::Connection>> connections, std::size_t queueLimit,
                   std::shared_ptr<AuthPoolGate> gate)
    : capacity_(connections.size() + queueLimit), gate_(std::move(gate)), workers_(std::move(connections)) {}

AuthPool::~AuthPool() { stop(); }

AuthPool::Submitted AuthPool::submit(WorkerPool::Job job) {
  if (jobs_.fetch_add(1) >= capacity_) {
    --jobs_;
    return Submitted::Full;
  }
  const bool queued = workers_.submit(WorkerPool::Job{[this, run = std::move(job.run)](storage::Connection& db) {
                                                        authPoolThread = true;
                                                        if (gate_) gate_->pass();
                                                        run(db);
                                                        leave();
                                                      },
                                                      [this, cancel = std::move(job.cancel)] {
                                                        leave();
                                                        if (cancel) cancel();
                                                      }});
  if (!queued) {
    --jobs_;
    return Submitted::Stopping;
  }
  if (gate_) gate_->taken();
  return Submitted::Taken;
}

void AuthPool::leave() {
  --jobs_;
  if (gate_) gate_->finished();
}

void AuthPool::stop() {
  if (gate_) gate_->release();  // a held job would keep its thread from ever joining
  workers_.stop();
}

bool onAuthPool() { return authPoolThread; }

}  // namespace storeserver
