#include "docfile/workpool.h"

#include <sched.h>

#include <algorithm>
#include <system_error>

namespace punb {

WorkerPool::WorkerPool(unsigned threads) {
  // A system that grants fewer threads than asked only makes the run slower: results never
  // depend on the number of threads.
  try {
    for (unsigned w = 1; w < threads; ++w) workers_.emplace_back([this, w] { work(w); });
  } catch (const std::system_error&) {
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void WorkerPool::take_tasks(const Task& task, std::size_t n, unsigned worker) {
  for (;;) {
    const std::size_t i = next_.fetch_add(1, std::memory_order_relaxed);
    if (i >= n) return;
    try {
      task(i, worker);
    } catch (...) {
      std::lock_guard lock(mutex_);
      if (!error_ || i < error_task_) {
        error_ = std::current_exception();
        error_task_ = i;
      }
      next_.store(n, std::memory_order_relaxed);  // hand out nothing more
    }
  }
}

void WorkerPool::work(unsigned worker) {
  std::size_t seen = 0;
  for (;;) {
    const Task* task = nullptr;
    std::size_t n = 0;
    {
      // The round's task is taken under the lock: a worker that wakes after the round has
      // ended sees none and goes back to sleep.
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
      if (!task_) continue;
      task = task_;
      n = tasks_;
      ++busy_;
    }
    take_tasks(*task, n, worker);
    {
      std::lock_guard lock(mutex_);
      --busy_;
    }
    done_.notify_one();
  }
}

void WorkerPool::run(std::size_t n, const Task& task) {
  if (n == 0) return;
  if (workers_.empty() || n == 1) {
    for (std::size_t i = 0; i < n; ++i) task(i, 0);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    task_ = &task;
    tasks_ = n;
    next_.store(0, std::memory_order_relaxed);
    error_ = nullptr;
    ++generation_;
  }
  wake_.notify_all();
  take_tasks(task, n, 0);
  std::exception_ptr error;
  {
    // Every worker that joined this round has left it once busy_ is back at 0; a worker that
    // wakes later finds no task left, since next_ is past the end.
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return busy_ == 0; });
    task_ = nullptr;
    tasks_ = 0;
    error = error_;
    error_ = nullptr;
  }
  if (error) std::rethrow_exception(error);
}

unsigned available_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int n = CPU_COUNT(&set);
  return n > 0 ? static_cast<unsigned>(n) : 1;
}

unsigned thread_count(std::uint64_t requested) {
  const std::uint64_t asked = requested == 0 ? available_cpus() : requested;
  return static_cast<unsigned>(std::min<std::uint64_t>(asked, kMaxThreads));
}

}  // namespace punb
