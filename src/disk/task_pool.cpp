#include "disk/task_pool.h"

namespace VkSharemapper {

TaskPool::~TaskPool() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void TaskPool::RunAll(const std::vector<std::function<void()>>& tasks) {
  if (width_ == 1 || tasks.size() < 2) {
    for (const auto& task : tasks) task();
    return;
  }
  Batch batch{&tasks};
  std::unique_lock<std::mutex> lock(mutex_);
  while (threads_.size() + 1 < width_) threads_.emplace_back(&TaskPool::Serve, this);
  open_.push_back(&batch);
  changed_.notify_all();
  // Its own tasks first (they are the newest), then whatever else waits.
  while (batch.next < tasks.size() || batch.running != 0) {
    if (!RunOne(lock)) changed_.wait(lock);
  }
}

void TaskPool::Serve() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!ending_) {
    if (!RunOne(lock)) changed_.wait(lock);
  }
}

bool TaskPool::RunOne(std::unique_lock<std::mutex>& lock) {
  if (open_.empty()) return false;
  Batch& batch = *open_.back();
  const std::function<void()>& task = (*batch.tasks)[batch.next++];
  if (batch.next == batch.tasks->size()) open_.pop_back();
  ++batch.running;
  lock.unlock();
  task();
  lock.lock();
  --batch.running;
  changed_.notify_all();
  return true;
}

}  // namespace VkSharemapper
