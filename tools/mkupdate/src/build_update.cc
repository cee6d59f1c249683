// The run from start to end: check, read both installations, plan, run the
// jobs, then say what cannot be expressed and sum up.
#include "mkupdate/build_update.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "mkupdate/job_runner.h"
#include "mkupdate/out_dir.h"
#include "mkupdate/plan.h"
#include "mkupdate/summary.h"
#include "mkupdate/work_pool.h"

namespace mkupdate {

namespace {

using platform::Status;

std::string EncodingName(const Options& options) {
  if (options.compress && options.invert) return "-dc -de";
  if (options.compress) return "-dc";
  if (options.invert) return "-de";
  return "plain";
}

// Letter case that the update cannot carry over: the updater writes into
// OLD's file and keeps its name.
void NoteSpellings(const Plan& plan, const std::vector<Outcome>& outcomes) {
  for (std::size_t i = 0; i < plan.jobs.size(); ++i) {
    const Job& job = plan.jobs[i];
    if (job.pack || job.oldName.empty() || job.oldName == job.name) continue;
    const bool written = outcomes[i] == Outcome::kChanged;
    if (!written && outcomes[i] != Outcome::kUnchanged) continue;
    std::fputs(
        ("marovetin-mkupdate: letter case: " + job.name + " is " + job.oldName + " in OLD; " +
         (written ? "written under NEW's spelling, it replaces OLD's file, which keeps "
                    "its name\n"
                  : "unchanged, so OLD's spelling stays\n"))
            .c_str(),
        stderr);
  }
}

Status ReadInstallation(const std::string& root, const std::string& packName, Installation* side) {
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
  JobRunner run(options, stop, oldSide, newSide, out);
  bool ok = run.Execute(plan, workers);
  if (ok) {
    status = out.Finish(run.wrote());
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
