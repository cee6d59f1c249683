// The crash-point driver: the tree saved and put back, the simulator stopped
// at each sync and write, and every state handed to the check.
#include "crash_points.h"

#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "power_loss.h"
#include "test_support.h"

namespace testing_support {

namespace fs = std::filesystem;

Tree SaveTree(const std::string& root) {
  Tree tree;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    const std::string relative = fs::relative(it->path(), root, error).generic_string();
    if (it->is_directory(error)) {
      tree[relative + "/"] = std::string();
    } else {
      tree[relative] = ReadFile(it->path().string());
    }
  }
  return tree;
}

void RestoreTree(const std::string& root, const Tree& tree) {
  // Directories that stay are kept, not made anew: one of them may be the
  // process's current directory.
  std::vector<fs::path> doomed;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    const std::string relative = fs::relative(it->path(), root, error).generic_string();
    if (!it->is_directory(error) || tree.count(relative + "/") == 0) doomed.push_back(it->path());
  }
  for (const fs::path& path : doomed) fs::remove_all(path, error);
  for (const auto& entry : tree) {
    if (!entry.first.empty() && entry.first.back() == '/') {
      fs::create_directories(fs::path(root) / entry.first, error);
    } else {
      WriteFile(root + "/" + entry.first, entry.second);
    }
  }
}

std::string CrashTally::Summary() const {
  return std::to_string(syncs) + " syncs, " + std::to_string(writes) + " writes: " +
         std::to_string(points) + " crash points, " + std::to_string(states) + " states, " +
         std::to_string(broken) + " broken";
}

CrashTally TryEveryCrashPoint(const std::string& root,
                              const std::function<void(platform::Env* env)>& operation,
                              const std::function<bool(const std::string& label)>& checkAndRecover,
                              int powerLosses) {
  CrashTally tally;
  const Tree initial = SaveTree(root);
  {
    PowerLossEnv counter;
    operation(&counter);
    tally.syncs = counter.syncs();
    tally.writes = counter.writes();
  }
  struct Point {
    const char* kind;
    int number;
  };
  std::vector<Point> points;
  for (int n = 1; n <= tally.syncs; ++n) points.push_back({"sync", n});
  for (int n = 1; n <= tally.writes; ++n) points.push_back({"write", n});
  for (const Point& point : points) {
    ++tally.points;
    RestoreTree(root, initial);
    auto disk = std::make_unique<PowerLossEnv>();
    if (point.kind[0] == 's') {
      disk->StopAtSync(point.number);
    } else {
      disk->StopAtWrite(point.number);
    }
    operation(disk.get());  // the check and the recovery then run on the real disk
    const Tree killed = SaveTree(root);
    const std::string where = std::string("stopped at ") + point.kind + " " +
                              std::to_string(point.number);
    for (int state = 0; state <= powerLosses; ++state) {
      RestoreTree(root, killed);
      std::string label = where + ", process killed";
      if (state > 0) {
        disk->Crash(static_cast<std::uint32_t>(state));
        label = where + ", power lost (seed " + std::to_string(state) + ")";
      }
      ++tally.states;
      if (!checkAndRecover(label)) ++tally.broken;
    }
  }
  RestoreTree(root, initial);
  return tally;
}

}  // namespace testing_support
