#pragma once
// Database workers: each thread owns one connection, so no connection is
// shared between threads. They run what waits on another thread (a commit of
// the writer, a password hash), which must never hold up an I/O thread.
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "server/storage/storage.h"

namespace storeserver {

class WorkerPool {
 public:
  struct Job {
    std::function<void(storage::Connection&)> run;
    std::function<void()> cancel;  // called instead of run when the pool stops first
  };

  explicit WorkerPool(std::vector<std::unique_ptr<storage::Connection>> connections);
  ~WorkerPool();  // stops

  // False when the pool is stopping; the job is then neither run nor cancelled.
  bool submit(Job job);
  // Lets running jobs finish, cancels queued ones, joins the threads.
  void stop();

 private:
  void work(storage::Connection& db);

  std::vector<std::unique_ptr<storage::Connection>> connections_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> queue_;
  bool stopping_ = false;
};

}  // namespace storeserver
