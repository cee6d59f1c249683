// The jobs of a run on the worker threads: each compares one NEW name with
// OLD's counterpart (sizes first, bytes only when they agree) and writes its
// payload when it differs; what cannot be delivered is set aside to be said.
#ifndef MKUPDATE_JOB_RUNNER_H_
#define MKUPDATE_JOB_RUNNER_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mkupdate/command_line.h"
#include "mkupdate/entry_source.h"
#include "mkupdate/out_dir.h"
#include "mkupdate/payload_writer.h"
#include "mkupdate/plan.h"
#include "platform/status.h"

namespace mkupdate {

enum class Outcome {
  kUnchanged,
  kChanged,  // written; OLD has other bytes
  kNew,      // written; OLD has none
  kRefused,  // differs, but cannot be delivered
  kHeld,     // a twin that differs, until its group is settled
  kFailed,
};

class JobRunner {
 public:
  JobRunner(const Options& options, const std::atomic<bool>& stop, Installation& oldSide,
            Installation& newSide, OutDir& out)
      : options_(options), stop_(stop), old_(oldSide), new_(newSide), out_(out) {}

  // Runs every job of plan on workers threads, with a progress bar unless
  // quiet; false after a failure (already named on standard error).
  bool Execute(const Plan& plan, unsigned workers);
  const std::vector<Outcome>& outcomes() const { return outcomes_; }
  // "NAME ... in NEW, but REASON" for each change found not deliverable.
  std::vector<std::string>& refused() { return refused_; }
  bool wrote() const;
  std::uint64_t bytesBefore() const;
  std::uint64_t bytesAfter() const;

 private:
  struct Worker {
    std::unique_ptr<PayloadWriter> writer;
    std::vector<unsigned char> a;
    std::vector<unsigned char> b;
    std::uint64_t bytesBefore = 0;
    std::uint64_t bytesAfter = 0;
  };

  std::unique_ptr<EntrySource> Open(Installation& side, const Job& job, bool oldName,
                                    platform::Status* status);
  std::string Shown(const Installation& side, const Job& job) const;
  Outcome Do(const Job& job, Worker& worker, bool deliverTwin);
  platform::Status Same(const Job& job, Worker& worker, bool* same);
  void Fail(const platform::Status& status);
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
  platform::Status failure_;
  std::vector<std::string> refused_;
};

// The error line of the tool on standard error.
void SayError(const std::string& text);

}  // namespace mkupdate

#endif  // MKUPDATE_JOB_RUNNER_H_
