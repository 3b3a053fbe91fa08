#include "disk/task_pool.h"

namespace VkSharemapper {

TaskPool::~TaskPool() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  work_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void TaskPool::RunAll(const std::vector<std::function<void()>>& tasks) {
  if (width_ == 1 || tasks.size() < 2) {
    for (const auto& task : tasks) task();
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  while (threads_.size() + 1 < width_) threads_.emplace_back(&TaskPool::Serve, this);
  batch_ = &tasks;
  next_ = 0;
  work_.notify_all();
  Drain(lock);
  idle_.wait(lock, [this] { return running_ == 0; });
  batch_ = nullptr;
}

void TaskPool::Serve() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!ending_) {
    Drain(lock);
    work_.wait(lock);
  }
}

void TaskPool::Drain(std::unique_lock<std::mutex>& lock) {
  while (batch_ != nullptr && next_ < batch_->size()) {
    const std::function<void()>& task = (*batch_)[next_++];
    ++running_;
    lock.unlock();
    task();
    lock.lock();
    if (--running_ == 0) idle_.notify_all();
  }
}

}  // namespace VkSharemapper
