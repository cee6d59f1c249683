// The worker threads of the run. Items are handed out by one counter; the
// calling thread looks at the count of finished items ten times a second, so
// that progress costs the workers nothing.
#include "mkupdate/work_pool.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace mkupdate {

void RunOnWorkers(std::size_t count, unsigned workers,
                  const std::function<void(std::size_t item, unsigned worker)>& task,
                  const std::atomic<bool>& stop,
                  const std::function<void(std::size_t done)>& progress) {
  if (workers == 0) workers = 1;
  if (workers > count) workers = count > 0 ? static_cast<unsigned>(count) : 1;
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  std::mutex lock;
  std::condition_variable ended;
  unsigned running = workers;
  std::vector<std::thread> threads;
  threads.reserve(workers);
  for (unsigned worker = 0; worker < workers; ++worker) {
    threads.emplace_back([&, worker] {
      for (std::size_t item = next++; item < count && !stop.load(); item = next++) {
        task(item, worker);
        done.fetch_add(1, std::memory_order_relaxed);
      }
      std::lock_guard<std::mutex> guard(lock);
      --running;
      ended.notify_one();
    });
  }
  std::size_t reported = 0;
  {
    std::unique_lock<std::mutex> guard(lock);
    while (running > 0) {
      ended.wait_for(guard, std::chrono::milliseconds(100));
      const std::size_t now = done.load(std::memory_order_relaxed);
      if (now == reported) continue;
      reported = now;
      guard.unlock();
      progress(now);
      guard.lock();
    }
  }
  for (std::thread& thread : threads) thread.join();
  if (done.load() != reported) progress(done.load());
}

unsigned DefaultWorkers() {
  const unsigned processors = std::thread::hardware_concurrency();
  return processors > 0 ? processors : 1;
}

}  // namespace mkupdate
