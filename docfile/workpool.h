#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace punb {

// The threads of one run. run(n, task) calls task(i, worker) for every i in 0 .. n-1, spread
// over the threads (the calling thread is worker 0 and works too), and returns when all are
// done. What a task computes must depend on i alone, never on the worker or on timing: the
// worker number only names scratch space that belongs to one thread, or lets the calling thread
// (worker 0) take up, between its tasks, work of its own whose result no timing changes.
class WorkerPool {
 public:
  explicit WorkerPool(unsigned threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  unsigned size() const { return static_cast<unsigned>(workers_.size()) + 1; }

  // A task that throws stops the hand-out of further tasks; the exception of the lowest task
  // number is rethrown here, after all running tasks have ended.
  using Task = std::function<void(std::size_t, unsigned)>;
  void run(std::size_t n, const Task& task);

 private:
  void work(unsigned worker);
  void take_tasks(const Task& task, std::size_t n, unsigned worker);

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const Task* task_ = nullptr;
  std::size_t tasks_ = 0;
  std::atomic<std::size_t> next_{0};
  std::size_t generation_ = 0;
  unsigned busy_ = 0;
  bool stop_ = false;
  std::exception_ptr error_;
  std::size_t error_task_ = 0;
};

// The number of CPUs this process may run on (its affinity mask), at least 1.
unsigned available_cpus();

// More threads than this gain nothing over the 8 to 64 CPUs of the machines punb runs on, and a
// mistyped count must not ask the system for millions of threads.
inline constexpr unsigned kMaxThreads = 256;

// The threads of a run for which `requested` were asked (-j, n_jobs): 0 asks for the CPUs this
// process may run on; no count goes past kMaxThreads.
unsigned thread_count(std::uint64_t requested);

}  // namespace punb
