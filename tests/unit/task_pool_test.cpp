#include "disk/task_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using VkSharemapper::TaskPool;

namespace {

// Tasks that hold on until `width` of them run at once (or a generous time
// passes), so that the most seen together is what the pool allows.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  unsigned running = 0;
  unsigned most = 0;
  unsigned ran = 0;

  void Task(unsigned width) {
    std::unique_lock<std::mutex> lock(mutex);
    if (++running > most) most = running;
    changed.notify_all();
    changed.wait_for(lock, std::chrono::seconds(5), [&] { return most >= width; });
    --running;
    ++ran;
  }
};

}  // namespace

TEST(TaskPool, RunsUpToItsWidthAtOnceAndEveryTaskOnce) {
  for (const unsigned width : {2u, 4u, 8u}) {
    SCOPED_TRACE(width);
    TaskPool pool(width);
    for (int batch = 0; batch < 3; ++batch) {
      Gate gate;
      std::vector<std::function<void()>> tasks(20, [&gate, width] { gate.Task(width); });
      pool.RunAll(tasks);
      EXPECT_EQ(gate.ran, 20u);
      EXPECT_EQ(gate.most, width);
      EXPECT_EQ(gate.running, 0u);
    }
  }
}

TEST(TaskPool, WidthOneRunsOnTheCallersThreadInOrder) {
  TaskPool pool(1);
  std::vector<int> order;
  std::vector<std::function<void()>> tasks;
  for (int i = 0; i < 5; ++i) {
    tasks.push_back([&order, i] { order.push_back(i); });
  }
  const std::thread::id caller = std::this_thread::get_id();
  tasks.push_back([caller] { EXPECT_EQ(std::this_thread::get_id(), caller); });
  pool.RunAll(tasks);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

// A tree of batches, as a walk makes them: every task of every level runs
// once, never more than the width at once, and each batch returns only
// after its own tasks (and theirs) have ended.
TEST(TaskPool, TasksMayRunBatchesOfTheirOwn) {
  TaskPool pool(4);
  std::mutex mutex;
  unsigned running = 0, most = 0, ran = 0;
  std::function<void(int)> level = [&](int depth) {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      most = std::max(most, ++running);
      ++ran;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    {
      const std::lock_guard<std::mutex> lock(mutex);
      --running;
    }
    if (depth == 0) return;
    std::atomic<unsigned> ended{0};
    std::vector<std::function<void()>> children(5, [&, depth] {
      level(depth - 1);
      ++ended;
    });
    pool.RunAll(children);
    EXPECT_EQ(ended, 5u);
  };
  std::vector<std::function<void()>> top(5, [&] { level(2); });
  pool.RunAll(top);
  EXPECT_EQ(ran, 5u + 25u + 125u);
  EXPECT_LE(most, 4u);
  EXPECT_EQ(running, 0u);
}
