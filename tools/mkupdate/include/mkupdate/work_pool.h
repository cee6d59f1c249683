// A fixed number of worker threads that take items in order until none are
// left, while the calling thread reports progress.
#ifndef MKUPDATE_WORK_POOL_H_
#define MKUPDATE_WORK_POOL_H_

#include <atomic>
#include <cstddef>
#include <functional>

namespace mkupdate {

// Runs task(item, worker) once for every item in [0, count) on workers
// threads (worker is 0..workers-1, so that a task can keep per-worker state),
// and calls progress(done) on the calling thread as items finish. Once stop
// is set, items not yet started are left out. Returns when every thread has
// ended.
void RunOnWorkers(std::size_t count, unsigned workers,
                  const std::function<void(std::size_t item, unsigned worker)>& task,
                  const std::atomic<bool>& stop,
                  const std::function<void(std::size_t done)>& progress);

// One worker per processor the system reports, at least one.
unsigned DefaultWorkers();

}  // namespace mkupdate

#endif  // MKUPDATE_WORK_POOL_H_
