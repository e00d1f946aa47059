#include "server/worker_pool.h"

namespace storeserver {

WorkerPool::WorkerPool(std::vector<std::unique_ptr<storage::Connection>> connections)
    : connections_(std::move(connections)) {
  for (auto& connection : connections_) threads_.emplace_back([this, db = connection.get()] { work(*db); });
}

WorkerPool::~WorkerPool() { stop(); }

bool WorkerPool::submit(Job job) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
    queue_.push_back(std::move(job));
  }
  wake_.notify_one();
  return true;
}

void WorkerPool::stop() {
  std::deque<Job> left;
  {
    std::lock_guard lock(mutex_);
    if (stopping_ && threads_.empty()) return;
    stopping_ = true;
    left.swap(queue_);
  }
  wake_.notify_all();
  for (Job& job : left)
    if (job.cancel) job.cancel();
  for (std::thread& t : threads_) t.join();
  threads_.clear();
  connections_.clear();
}

void WorkerPool::work(storage::Connection& db) {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    job.run(db);
  }
}

}  // namespace storeserver
