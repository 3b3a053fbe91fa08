// A few threads that run a batch of independent calls side by side, so that
// a slow round trip to the server is paid once per batch rather than once
// per call.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace VkSharemapper {

class TaskPool {
 public:
  // Up to `width` tasks run at once; with 1 every task runs on the caller's
  // thread and no thread is made. The threads are made at the first batch
  // and end with the pool.
  explicit TaskPool(unsigned width) : width_(width == 0 ? 1 : width) {}
  ~TaskPool();
  TaskPool(const TaskPool&) = delete;
  TaskPool& operator=(const TaskPool&) = delete;

  // Runs every task once, the caller's thread among the runners, and
  // returns when all have ended.
  void RunAll(const std::vector<std::function<void()>>& tasks);

 private:
  void Serve();
  // Takes and runs tasks of the batch until none is left.
  void Drain(std::unique_lock<std::mutex>& lock);

  const unsigned width_;
  std::mutex mutex_;
  std::condition_variable work_;  // a batch came, or the pool ends
  std::condition_variable idle_;  // a task of the batch ended
  const std::vector<std::function<void()>>* batch_ = nullptr;
  std::size_t next_ = 0;     // the first task of the batch not yet taken
  std::size_t running_ = 0;  // tasks taken and not yet ended
  bool ending_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace VkSharemapper
