// Comparing and writing on the workers. The comparison reads both files in
// pieces of bounded size; a payload is written only when they differ.
#include "mkupdate/job_runner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "mkupdate/work_pool.h"
#include "pkfstool/progress_bar.h"

namespace mkupdate {

namespace {

using platform::Status;

constexpr std::size_t kComparePieceBytes = 256 * 1024;

}  // namespace

void SayError(const std::string& text) {
  std::fputs(("marovetin-mkupdate: " + text + "\n").c_str(), stderr);
}

std::string JobRunner::Shown(const Installation& side, const Job& job) const {
  if (job.pack) return side.root + "/" + options_.packName + ": " + job.name;
  return side.root + "/" + job.name;
}

std::unique_ptr<EntrySource> JobRunner::Open(Installation& side, const Job& job, bool oldName,
                                             Status* status) {
  const std::string& name = oldName ? job.oldName : job.name;
  if (job.pack) return OpenPackEntry(&side.pack, name);
  return OpenLooseFile(side.root + "/" + name, status);
}

Status JobRunner::Same(const Job& job, Worker& worker, bool* same) {
  *same = false;
  Status status;
  std::unique_ptr<EntrySource> fresh = Open(new_, job, false, &status);
  if (fresh == nullptr) return status;
  std::unique_ptr<EntrySource> stale = Open(old_, job, true, &status);
  if (stale == nullptr) return status;
  worker.a.resize(kComparePieceBytes);
  worker.b.resize(kComparePieceBytes);
  // Both are read for exactly the size the walk found (one read each for a
  // small file); one that changed since is seen when its payload is written.
  for (std::uint64_t left = job.size; left > 0;) {
    if (halt_.load(std::memory_order_relaxed)) return Status::Ok();
    const std::size_t piece =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, kComparePieceBytes));
    std::size_t gotNew = 0;
    std::size_t gotOld = 0;
    status = fresh->ReadFull(worker.a.data(), piece, &gotNew);
    if (!status.ok()) return status;
    status = stale->ReadFull(worker.b.data(), piece, &gotOld);
    if (!status.ok()) return status;
    if (gotNew != piece || gotOld != piece ||
        std::memcmp(worker.a.data(), worker.b.data(), piece) != 0) {
      return Status::Ok();
    }
    left -= piece;
  }
  *same = true;
  return Status::Ok();
}

void JobRunner::Fail(const Status& status) {
  std::lock_guard<std::mutex> guard(lock_);
  if (failure_.ok()) failure_ = status;
  halt_ = true;
}

Outcome JobRunner::Do(const Job& job, Worker& worker, bool deliverTwin) {
  if (!job.oldName.empty() && job.oldReadable && job.size == job.oldSize) {
    bool same = false;
    const Status status = Same(job, worker, &same);
    if (!status.ok()) {
      Fail(status);
      return Outcome::kFailed;
    }
    if (same) return Outcome::kUnchanged;
  }
  if (!job.refusal.empty()) return Outcome::kRefused;
  if (job.twinGroup != 0 && !deliverTwin) return Outcome::kHeld;
  Status status;
  std::unique_ptr<EntrySource> source = Open(new_, job, false, &status);
  if (source != nullptr) {
    status = worker.writer->Write(*source, Shown(new_, job), job.size, job.outPath(),
                                  &worker.bytesAfter);
  }
  if (!status.ok()) {
    Fail(status);
    return Outcome::kFailed;
  }
  worker.bytesBefore += job.size;
  return job.oldName.empty() ? Outcome::kNew : Outcome::kChanged;
}

// Names that NEW holds under several spellings land on one file: at most one
// of them can be delivered, and only one that OLD holds under its own
// spelling (any other would land on a twin's file).
void JobRunner::SettleTwins(const Plan& plan, Worker& worker) {
  std::vector<std::vector<std::size_t>> held(plan.twinGroups + 1);
  for (std::size_t i = 0; i < plan.jobs.size(); ++i) {
    if (outcomes_[i] == Outcome::kHeld) held[plan.jobs[i].twinGroup].push_back(i);
  }
  for (const std::vector<std::size_t>& group : held) {
    if (group.size() == 1 && plan.jobs[group.front()].oldName == plan.jobs[group.front()].name) {
      outcomes_[group.front()] = Do(plan.jobs[group.front()], worker, true);
      continue;
    }
    for (std::size_t i : group) {
      outcomes_[i] = Outcome::kRefused;
      refused_.push_back(plan.jobs[i].name +
                         (plan.jobs[i].oldName.empty() ? " is new" : " differs") +
                         " in NEW, but NEW has other files whose names differ from it only in "
                         "letter case, and they would land on one file");
    }
  }
}

bool JobRunner::Execute(const Plan& plan, unsigned workers) {
  outcomes_.assign(plan.jobs.size(), Outcome::kUnchanged);
  workers_.resize(workers);
  for (Worker& worker : workers_) {
    worker.writer =
        std::make_unique<PayloadWriter>(&out_, options_.invert, options_.compress, &halt_);
  }
  pkfstool::ProgressBar bar("compare", options_.quiet ? 0 : plan.jobs.size());
  std::size_t drawn = 0;
  RunOnWorkers(
      plan.jobs.size(), workers,
      [&](std::size_t item, unsigned worker) {
        if (stop_.load()) Fail(Status::Error(Status::Code::kInvalid, "the run", "interrupted"));
        if (halt_.load()) return;
        outcomes_[item] = Do(plan.jobs[item], workers_[worker], false);
      },
      halt_,
      [&](std::size_t done) {
        if (stop_.load()) Fail(Status::Error(Status::Code::kInvalid, "the run", "interrupted"));
        for (; drawn < done; ++drawn) bar.Step();
      });
  bar.Finish();
  if (failure_.ok() && stop_.load()) {
    failure_ = Status::Error(Status::Code::kInvalid, "the run", "interrupted");
  }
  if (failure_.ok()) SettleTwins(plan, workers_.front());
  if (!failure_.ok()) {
    SayError(failure_.ToString());
    return false;
  }
  for (std::size_t i = 0; i < plan.jobs.size(); ++i) {
    const Job& job = plan.jobs[i];
    // Twins refused for landing on one file were named as they were settled.
    if (outcomes_[i] == Outcome::kRefused && !job.refusal.empty()) {
      refused_.push_back(job.outPath() + (job.oldName.empty() ? " is new" : " differs") +
                         " in NEW, but " + job.refusal);
    }
  }
  return true;
}

bool JobRunner::wrote() const {
  return std::any_of(outcomes_.begin(), outcomes_.end(), [](Outcome outcome) {
    return outcome == Outcome::kChanged || outcome == Outcome::kNew;
  });
}

std::uint64_t JobRunner::bytesBefore() const {
  std::uint64_t sum = 0;
  for (const Worker& worker : workers_) sum += worker.bytesBefore;
  return sum;
}

std::uint64_t JobRunner::bytesAfter() const {
  std::uint64_t sum = 0;
  for (const Worker& worker : workers_) sum += worker.bytesAfter;
  return sum;
}

}  // namespace mkupdate
