// The run from start to end. Every NEW name is one job: the worker compares
// it with OLD's counterpart (sizes first, bytes only when they agree) and
// writes its payload when it differs; what cannot be delivered is said
// instead of written.
#include "mkupdate/build_update.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mkupdate/entry_source.h"
#include "mkupdate/out_dir.h"
#include "mkupdate/payload_writer.h"
#include "mkupdate/plan.h"
#include "mkupdate/summary.h"
#include "mkupdate/work_pool.h"
#include "pkfstool/progress_bar.h"

namespace mkupdate {

namespace {

using platform::Status;

constexpr std::size_t kComparePieceBytes = 256 * 1024;

enum class Outcome { kUnchanged, kChanged, kNew, kRefused, kHeld, kFailed };

void SayError(const std::string& text) {
  std::fputs(("marovetin-mkupdate: " + text + "\n").c_str(), stderr);
}

std::string EncodingName(const Options& options) {
  if (options.compress && options.invert) return "-dc -de";
  if (options.compress) return "-dc";
  if (options.invert) return "-de";
  return "plain";
}

struct Worker {
  std::unique_ptr<PayloadWriter> writer;
  std::vector<unsigned char> a;
  std::vector<unsigned char> b;
  std::uint64_t bytesBefore = 0;
  std::uint64_t bytesAfter = 0;
};

class Run {
 public:
  Run(const Options& options, const std::atomic<bool>& stop, Installation& oldSide,
      Installation& newSide, OutDir& out)
      : options_(options), stop_(stop), old_(oldSide), new_(newSide), out_(out) {}

  // Runs every job; false after a failure (already named).
  bool Execute(const Plan& plan, unsigned workers);
  const std::vector<Outcome>& outcomes() const { return outcomes_; }
  std::vector<std::string>& refused() { return refused_; }
  std::uint64_t bytesBefore() const;
  std::uint64_t bytesAfter() const;

 private:
  std::unique_ptr<EntrySource> Open(Installation& side, const Job& job, bool oldName,
                                    Status* status);
  std::string Shown(const Installation& side, const Job& job, bool oldName) const;
  Outcome Do(const Job& job, Worker& worker, bool deliverTwin);
  Status Same(const Job& job, Worker& worker, bool* same);
  void Fail(const Status& status);
  void SettleTwins(const Plan& plan, Worker& worker);

  const Options& options_;
  const std::atomic<bool>& stop_;
  std::atomic<bool> halt_{false};
  Installation& old_;
  Installation& new_;
  OutDir& out_;
  std::vector<Worker> workers_;
  std::vector<Outcome> outcomes_;
  std::mutex lock_;
  Status failure_;
  std::vector<std::string> refused_;
};

std::string Run::Shown(const Installation& side, const Job& job, bool oldName) const {
  const std::string& name = oldName ? job.oldName : job.name;
  if (job.pack) return side.root + "/" + options_.packName + ": " + name;
  return side.root + "/" + name;
}

std::unique_ptr<EntrySource> Run::Open(Installation& side, const Job& job, bool oldName,
                                       Status* status) {
  const std::string& name = oldName ? job.oldName : job.name;
  if (job.pack) return OpenPackEntry(&side.pack, name);
  return OpenLooseFile(side.root + "/" + name, status);
}

Status Run::Same(const Job& job, Worker& worker, bool* same) {
  *same = false;
  Status status;
  std::unique_ptr<EntrySource> fresh = Open(new_, job, false, &status);
  if (fresh == nullptr) return status;
  std::unique_ptr<EntrySource> stale = Open(old_, job, true, &status);
  if (stale == nullptr) return status;
  worker.a.resize(kComparePieceBytes);
  worker.b.resize(kComparePieceBytes);
  std::uint64_t done = 0;
  while (true) {
    if (halt_.load(std::memory_order_relaxed)) return Status::Ok();
    std::size_t gotNew = 0;
    std::size_t gotOld = 0;
    status = fresh->ReadFull(worker.a.data(), worker.a.size(), &gotNew);
    if (!status.ok()) return status;
    status = stale->ReadFull(worker.b.data(), worker.b.size(), &gotOld);
    if (!status.ok()) return status;
    if (gotNew != gotOld || std::memcmp(worker.a.data(), worker.b.data(), gotNew) != 0) {
      return Status::Ok();
    }
    done += gotNew;
    if (gotNew < worker.a.size()) {
      *same = done == job.size;
      return Status::Ok();
    }
  }
}

void Run::Fail(const Status& status) {
  std::lock_guard<std::mutex> guard(lock_);
  if (failure_.ok()) failure_ = status;
  halt_ = true;
}

Outcome Run::Do(const Job& job, Worker& worker, bool deliverTwin) {
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
    status = worker.writer->Write(*source, Shown(new_, job, false), job.size, job.outPath(),
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
void Run::SettleTwins(const Plan& plan, Worker& worker) {
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
      refused_.push_back(plan.jobs[i].name + (plan.jobs[i].oldName.empty() ? " is new" : " differs") +
                         " in NEW, but NEW has other files whose names differ from it only in "
                         "letter case, and they would land on one file");
    }
  }
}

bool Run::Execute(const Plan& plan, unsigned workers) {
  outcomes_.assign(plan.jobs.size(), Outcome::kUnchanged);
  workers_.resize(workers);
  for (Worker& worker : workers_) {
    worker.writer = std::make_unique<PayloadWriter>(&out_, options_.invert, options_.compress,
                                                    &halt_);
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

std::uint64_t Run::bytesBefore() const {
  std::uint64_t sum = 0;
  for (const Worker& worker : workers_) sum += worker.bytesBefore;
  return sum;
}

std::uint64_t Run::bytesAfter() const {
  std::uint64_t sum = 0;
  for (const Worker& worker : workers_) sum += worker.bytesAfter;
  return sum;
}

// Letter case that the update cannot carry over: the updater writes into
// OLD's file and keeps its name.
void NoteSpellings(const Plan& plan, const std::vector<Outcome>& outcomes) {
  for (std::size_t i = 0; i < plan.jobs.size(); ++i) {
    const Job& job = plan.jobs[i];
    if (job.pack || job.oldName.empty() || job.oldName == job.name) continue;
    const bool written = outcomes[i] == Outcome::kChanged;
    if (!written && outcomes[i] != Outcome::kUnchanged) continue;
    std::fputs(("marovetin-mkupdate: letter case: " + job.name + " is " + job.oldName +
                " in OLD; " +
                (written ? "written under NEW's spelling, it replaces OLD's file, which keeps "
                           "its name\n"
                         : "unchanged, so OLD's spelling stays\n"))
                   .c_str(),
               stderr);
  }
}

Status ReadInstallation(const std::string& root, const std::string& packName,
                        Installation* side) {
  side->root = root;
  Status status = ScanTree(root, &side->tree);
  if (!status.ok()) return status;
  return side->pack.Open(root, packName);
}

}  // namespace

int BuildUpdate(const Options& options, const std::atomic<bool>& stop) {
  const auto started = std::chrono::steady_clock::now();
  bool usage = false;
  Status status = CheckDirectories(options.oldDir, options.newDir, options.outDir, &usage);
  if (!status.ok()) {
    SayError(status.ToString());
    return usage ? kExitUsage : kExitFailure;
  }
  Installation oldSide;
  Installation newSide;
  // The two walks overlap: each waits mostly on its own directories.
  Status oldStatus;
  std::thread oldReader(
      [&] { oldStatus = ReadInstallation(options.oldDir, options.packName, &oldSide); });
  status = ReadInstallation(options.newDir, options.packName, &newSide);
  oldReader.join();
  if (status.ok()) status = oldStatus;
  Plan plan;
  if (status.ok()) status = MakePlan(oldSide, newSide, options.packName, &plan);
  if (!status.ok()) {
    SayError(status.ToString());
    return kExitFailure;
  }

  OutDir out(options.outDir);
  status = out.Create();
  if (!status.ok()) {
    SayError(status.ToString());
    out.Discard();
    return kExitFailure;
  }
  const unsigned workers = options.jobs != 0 ? options.jobs : DefaultWorkers();
  Run run(options, stop, oldSide, newSide, out);
  bool ok = run.Execute(plan, workers);
  if (ok) {
    status = out.Finish();
    if (!status.ok()) {
      SayError(status.ToString());
      ok = false;
    }
  }
  if (!ok) {
    out.Discard();
    return kExitFailure;
  }

  NoteSpellings(plan, run.outcomes());
  std::vector<std::string>& refused = run.refused();
  refused.insert(refused.end(), plan.refused.begin(), plan.refused.end());
  std::sort(refused.begin(), refused.end());
  for (const std::string& line : refused) {
    std::fputs(("cannot be expressed: " + line + "\n").c_str(), stderr);
  }
  for (const std::string& name : plan.removed) {
    std::fputs(("cannot be expressed: " + name + " is removed in NEW\n").c_str(), stderr);
  }
  const std::size_t inexpressible = refused.size() + plan.removed.size();
  if (inexpressible > 0) {
    std::fprintf(stderr, "marovetin-mkupdate: %zu change%s cannot be expressed by an update\n",
                 inexpressible, inexpressible == 1 ? "" : "s");
  }

  Summary summary;
  summary.compared = plan.jobs.size() + plan.refused.size();
  for (Outcome outcome : run.outcomes()) {
    if (outcome == Outcome::kChanged) ++summary.changed;
    if (outcome == Outcome::kNew) ++summary.added;
    if (outcome == Outcome::kUnchanged) ++summary.unchanged;
  }
  summary.removed = plan.removed.size();
  summary.refused = refused.size();
  summary.bytesBefore = run.bytesBefore();
  summary.bytesAfter = run.bytesAfter();
  summary.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  summary.workers = workers;
  summary.encoding = EncodingName(options);
  if (!options.quiet) std::fputs(SummaryText(summary).c_str(), stdout);
  return inexpressible > 0 ? kExitNotExpressible : kExitOk;
}

int RunTool(int argc, char** argv, const std::atomic<bool>& stop) {
  const ParseResult parsed = ParseCommandLine(argc, argv);
  if (parsed.options.info == Options::Info::kHelp) {
    std::fputs(HelpText().c_str(), stdout);
    return kExitOk;
  }
  if (parsed.options.info == Options::Info::kVersion) {
    std::fputs(VersionText().c_str(), stdout);
    return kExitOk;
  }
  if (!parsed.error.empty()) {
    std::fputs(UsageError(parsed.error).c_str(), stderr);
    return kExitUsage;
  }
  return BuildUpdate(parsed.options, stop);
}

}  // namespace mkupdate
