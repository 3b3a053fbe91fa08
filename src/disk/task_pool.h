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
  // returns when all have ended. A task may run a batch of its own: while
  // a caller waits for the last tasks of its batch, it runs tasks of any
  // other batch, so no thread stands idle while there is work.
  void RunAll(const std::vector<std::function<void()>>& tasks);

 private:
  struct Batch {
    const std::vector<std::function<void()>>* tasks;
    std::size_t next = 0;     // the first task not yet taken
    std::size_t running = 0;  // tasks taken and not yet ended
  };

  void Serve();
  // Runs the next task of the newest batch that has one; false when none
  // has. The lock is released while the task runs.
  bool RunOne(std::unique_lock<std::mutex>& lock);

  const unsigned width_;
  std::mutex mutex_;
  std::condition_variable changed_;  // a batch came, a task ended, or the pool ends
  std::vector<Batch*> open_;         // batches with tasks not yet taken, newest last
  bool ending_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace VkSharemapper
