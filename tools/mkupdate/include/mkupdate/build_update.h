// The whole run: check the directories, read both installations, compare,
// write the payloads, say what cannot be expressed, and sum up.
#ifndef MKUPDATE_BUILD_UPDATE_H_
#define MKUPDATE_BUILD_UPDATE_H_

#include <atomic>

#include "mkupdate/command_line.h"

namespace mkupdate {

// Makes the update that options ask for and returns the exit status. stop,
// once set (by a signal), ends the run as a failure: OUT is taken back.
int BuildUpdate(const Options& options, const std::atomic<bool>& stop);

// The program: parses argv, answers --help and --version, and runs.
int RunTool(int argc, char** argv, const std::atomic<bool>& stop);

}  // namespace mkupdate

#endif  // MKUPDATE_BUILD_UPDATE_H_
