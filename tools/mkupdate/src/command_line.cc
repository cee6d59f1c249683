// Parsing of the marovetin-mkupdate command line.
#include "mkupdate/command_line.h"

#include <cstring>
#include <vector>

#include "platform/path_spelling.h"

#ifndef MAROVETIN_VERSION
#define MAROVETIN_VERSION "unknown"
#endif

namespace mkupdate {

namespace {

// More workers than this only cost memory (each bzip2 stream takes about
// 8 MiB at level 9).
constexpr unsigned long kMostJobs = 256;

bool ParseJobs(const char* text, unsigned* jobs) {
  if (*text < '1' || *text > '9') return false;
  unsigned long value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(*c - '0');
    if (value > kMostJobs) return false;
  }
  *jobs = static_cast<unsigned>(value);
  return true;
}

// The set's name is looked up in OLD and in NEW, as the updater looks it up
// in the installation: it must stay below both.
std::string PackNameProblem(const std::string& name) {
  if (name.empty()) return "-sp needs a file name";
  if (platform::IsPathSeparator(name[0]))
    return "-sp " + name + " must be relative to the installation";
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    const std::string level = name.substr(start, end - start);
    if (level.empty() || level == "." || level == "..") {
      return "-sp " + name + " must name a file below the installation";
    }
    start = end + 1;
  }
  return std::string();
}

}  // namespace

ParseResult ParseCommandLine(int argc, const char* const* argv) {
  ParseResult result;
  Options& out = result.options;
  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsEnded && std::strcmp(arg, "--help") == 0) {
      out.info = Options::Info::kHelp;
      return result;
    }
    if (!optionsEnded && std::strcmp(arg, "--version") == 0) {
      out.info = Options::Info::kVersion;
      return result;
    }
  }
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      operands.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-dc") {
      out.compress = true;
    } else if (arg == "-de") {
      out.invert = true;
    } else if (arg == "-q" || arg == "--quiet") {
      out.quiet = true;
    } else if (arg == "-sp" || arg == "-j") {
      if (i + 1 >= argc) {
        result.error = arg + " needs a value";
        return result;
      }
      const char* value = argv[++i];
      if (arg == "-sp") {
        out.packName = value;
        result.error = PackNameProblem(out.packName);
        if (!result.error.empty()) return result;
      } else if (!ParseJobs(value, &out.jobs)) {
        result.error = std::string("-j ") + value + ": give a number of workers from 1 to " +
                       std::to_string(kMostJobs);
        return result;
      }
    } else {
      result.error = "unknown option " + arg;
      return result;
    }
  }
  if (operands.size() != 3) {
    result.error = operands.size() < 3 ? "OLD, NEW and OUT must be given"
                                       : "too many operands: give OLD, NEW and OUT";
    return result;
  }
  out.oldDir = operands[0];
  out.newDir = operands[1];
  out.outDir = operands[2];
  for (const std::string* dir : {&out.oldDir, &out.newDir, &out.outDir}) {
    if (dir->empty()) {
      result.error = "OLD, NEW and OUT must not be empty";
      return result;
    }
  }
  return result;
}

std::string HelpText() {
  return "Usage: marovetin-mkupdate [-dc] [-de] [-sp FILE] [-j N] [-q] OLD NEW OUT\n"
         "Makes in OUT the update that marovetin applies to turn the installation OLD\n"
         "into the installation NEW.\n"
         "\n"
         "Every loose file of NEW that differs from OLD's file of the same name (letter\n"
         "case aside, as the updater matches names), or that OLD lacks, is written to\n"
         "OUT under its path; every entry of NEW's pack set whose bytes differ from\n"
         "OLD's entry, or that OLD lacks, is written to OUT/Pak under its stored name.\n"
         "The pack volumes themselves are never written as files. Symbolic links are\n"
         "never followed.\n"
         "\n"
         "  -dc        write each payload as a bzip2 stream (level 9): apply with -dc\n"
         "  -de        invert every byte of each payload: apply with -de\n"
         "             (both: inverted, then compressed, as marovetin -dc -de reads them)\n"
         "  -sp FILE   the pack set's first volume below OLD and NEW (default DATA.pak)\n"
         "  -j N       encode on N workers (default: one per processor)\n"
         "  -q         no summary on standard output, no progress bar\n"
         "  --help     this text\n"
         "  --version  the version\n"
         "\n"
         "OUT must be empty or absent; OLD, NEW and OUT must not contain one another.\n"
         "A file or pack entry that OLD has and NEW lacks cannot be removed by an\n"
         "update: each such change is named on standard error (\"cannot be expressed:\n"
         "...\"), and the exit status is then 3.\n"
         "\n"
         "Exit status: 0 the update says everything; 3 the update is made, but some\n"
         "changes cannot be expressed (named); 1 a failure (named with its reason; an OUT\n"
         "that the run made is removed again); 64 an unusable command line.\n";
}

std::string VersionText() { return "marovetin-mkupdate " MAROVETIN_VERSION "\n"; }

std::string UsageError(const std::string& error) {
  return "marovetin-mkupdate: " + error + "\nTry 'marovetin-mkupdate --help' for more.\n";
}

}  // namespace mkupdate
