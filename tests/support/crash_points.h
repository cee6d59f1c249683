// Runs an operation once per crash point: the power fails at each of its
// syncs and at each of its writes in turn (through the power-loss
// simulator). After each stop the tree is looked at in several states: as a
// killed process leaves it (everything written is there), and as a number of
// power losses leave it (unsynced writes kept, lost or torn by sector; names
// whose directory was not synced old or new). Each state is handed to a check
// that also runs the recovery; it says whether the state was sound.
#ifndef MAROVETIN_TESTS_SUPPORT_CRASH_POINTS_H_
#define MAROVETIN_TESTS_SUPPORT_CRASH_POINTS_H_

#include <functional>
#include <map>
#include <string>

#include "platform/env.h"

namespace testing_support {

// Every file below a directory with its bytes, by path relative to it, and
// the directories (empty content, with a trailing "/").
using Tree = std::map<std::string, std::string>;
Tree SaveTree(const std::string& root);
// Makes root hold exactly tree again.
void RestoreTree(const std::string& root, const Tree& tree);

struct CrashTally {
  int syncs = 0;   // of the run without a crash
  int writes = 0;
  int points = 0;  // crash points tried (every sync and every write)
  int states = 0;  // states checked
  int broken = 0;  // states the check found unsound
  // "12 syncs, 30 writes: 42 crash points, 168 states, 0 broken"
  std::string Summary() const;
};

// Runs operation from the tree below root, once without a crash and then
// once per crash point, root put back before each run; operation reaches its
// files through the Env it is given (the simulated disk). checkAndRecover gets
// each crash state (on disk below root, no simulator watching) and a label
// that names it; it returns false for an unsound one. powerLosses: the
// seeds per crash point besides the killed process's state.
CrashTally TryEveryCrashPoint(const std::string& root,
                              const std::function<void(platform::Env* env)>& operation,
                              const std::function<bool(const std::string& label)>& checkAndRecover,
                              int powerLosses = 3);

}  // namespace testing_support

#endif  // MAROVETIN_TESTS_SUPPORT_CRASH_POINTS_H_
