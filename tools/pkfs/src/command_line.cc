// Parsing of the pkfs command line, and its help and version texts.
#include "pkfstool/command_line.h"

#include <cstring>

#ifndef MAROVETIN_VERSION
#define MAROVETIN_VERSION "unknown"
#endif

namespace pkfstool {

namespace {

struct CommandShape {
  const char* name;
  std::size_t minOperands;
  std::size_t maxOperands;  // 0: no upper bound
  const char* synopsis;
};

const CommandShape kCommands[] = {
    {"ls", 1, 1, "ls [-l] SET"},
    {"cat", 2, 2, "cat SET NAME"},
    {"extract", 1, 0, "extract SET [-C DIR] [NAME...]"},
    {"add", 2, 0, "add SET [-C DIR] [--rule EXT]... [--no-rules] PATH..."},
    {"rm", 2, 0, "rm SET NAME..."},
    {"info", 1, 1, "info SET"},
    {"verify", 1, 1, "verify SET"},
    {"compact", 1, 1, "compact [--salvage] SET"},
};

const CommandShape* FindCommand(const std::string& name) {
  for (const CommandShape& shape : kCommands) {
    if (name == shape.name) return &shape;
  }
  return nullptr;
}

bool Takes(const std::string& command, const char* option) {
  if (std::strcmp(option, "-l") == 0) return command == "ls";
  if (std::strcmp(option, "-C") == 0) return command == "extract" || command == "add";
  if (std::strcmp(option, "--salvage") == 0) return command == "compact";
  return command == "add" &&
         (std::strcmp(option, "--rule") == 0 || std::strcmp(option, "--no-rules") == 0);
}

}  // namespace

std::vector<std::string> DefaultRules() { return {"txt", "xml"}; }

ParseResult ParseCommandLine(int argc, const char* const* argv) {
  ParseResult result;
  Invocation& out = result.invocation;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) break;
    if (std::strcmp(argv[i], "--help") == 0) {
      out.info = Invocation::Info::kHelp;
      return result;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      out.info = Invocation::Info::kVersion;
      return result;
    }
  }
  if (argc < 2) {
    result.error = "no command given";
    return result;
  }
  out.command = argv[1];
  const CommandShape* shape = FindCommand(out.command);
  if (shape == nullptr) {
    result.error = "unknown command '" + out.command + "'";
    return result;
  }
  bool optionsEnded = false;
  for (int i = 2; i < argc; ++i) {
    const std::string argument = argv[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      out.operands.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (!Takes(out.command, argument.c_str())) {
      result.error = "unknown option '" + argument + "' for " + out.command;
      return result;
    }
    if (argument == "-l") {
      out.longListing = true;
    } else if (argument == "--salvage") {
      out.salvage = true;
    } else if (argument == "--no-rules") {
      out.rules.clear();
      out.rulesGiven = true;
    } else {
      if (i + 1 >= argc) {
        result.error = "option " + argument + " needs a value";
        return result;
      }
      const std::string value = argv[++i];
      if (argument == "-C") {
        out.directory = value;
      } else {
        if (value.empty()) {
          result.error = "option --rule needs a non-empty value";
          return result;
        }
        if (!out.rulesGiven) out.rules.clear();
        out.rules.push_back(value);
        out.rulesGiven = true;
      }
    }
  }
  if (!out.rulesGiven) out.rules = DefaultRules();
  const std::size_t count = out.operands.size();
  if (count < shape->minOperands || (shape->maxOperands != 0 && count > shape->maxOperands)) {
    result.error = std::string(count < shape->minOperands ? "missing operand" : "extra operand") +
                   "; usage: pkfs " + shape->synopsis;
  }
  return result;
}

std::string HelpText() {
  return "Usage: pkfs COMMAND SET [ARGUMENT]...\n"
         "Lists, reads, fills, checks and shrinks a set of pack volumes. SET is the set's\n"
         "first volume (e.g. DATA.pak), by any path; its later volumes (Data1.pak, ...)\n"
         "are found beside it. NAMEs may be given in any letter case and with \"/\" or\n"
         "\"\\\" between levels; they are matched against the stored names (upper case).\n"
         "\n"
         "Commands:\n"
         "  ls [-l] SET            stored names, one a line; -l adds size, flags, filter\n"
         "                         and volume\n"
         "  cat SET NAME           the decoded bytes of one stored file on standard output\n"
         "  extract SET [-C DIR] [NAME]...\n"
         "                         all or the named files, decoded, under DIR (default:\n"
         "                         the current directory), directories made; a link\n"
         "                         inside DIR is never followed, and a name that would\n"
         "                         not stay inside DIR is not extracted (each named)\n"
         "  add SET [-C DIR] [--rule EXT]... [--no-rules] PATH...\n"
         "                         stores files and trees under their names relative to\n"
         "                         DIR, replacing stored copies; names containing a rule\n"
         "                         (default: txt, xml, as the updater) are scrambled;\n"
         "                         creates SET when it does not exist. Links, pipes and\n"
         "                         devices, empty files, names holding \"\\\" and names\n"
         "                         differing only in letter case are not stored (each\n"
         "                         named)\n"
         "  rm SET NAME...         removes stored files\n"
         "  info SET               volumes, entries, payload, directory and free bytes\n"
         "  verify SET             checks each volume's header, directory and checksum,\n"
         "                         that every entry lies inside its volume without\n"
         "                         overlapping another and reads back whole, that its\n"
         "                         filter is known and its name can be extracted safely,\n"
         "                         and the chain of volumes; one line per problem.\n"
         "                         Entries carry no checksum: changed payload bytes\n"
         "                         cannot be found\n"
         "  compact [--salvage] SET\n"
         "                         rewrites the set without free space or stale copies;\n"
         "                         a stop at any moment leaves the old set or the new\n"
         "                         one. A damaged set is refused; --salvage rebuilds it\n"
         "                         from the entries that still read, naming each one\n"
         "                         it drops\n"
         "  --help                 print this help and exit\n"
         "  --version              print the version and exit\n"
         "\n"
         "Only what the set stores is read: a loose file of the same name never stands in.\n"
         "ls, cat, info, extract and verify never wait for a process that is changing the\n"
         "set: they read its last committed state. add, rm and compact wait for it (add\n"
         "and rm) or refuse (compact). A set whose directory does not match its checksum\n"
         "is read with a warning, and never written until it is rebuilt (compact\n"
         "--salvage). A progress bar is drawn on standard error, when it is a terminal,\n"
         "for extract, add and compact of many files.\n"
         "\n"
         "Exit status:\n"
         "  0   done (verify: the set is sound)\n"
         "  1   a failure, named on standard error with its reason; a path or entry left\n"
         "      out; a set read with a damaged directory (verify: the set is damaged)\n"
         "  64  unusable command line\n";
}

std::string VersionText() { return std::string("pkfs ") + MAROVETIN_VERSION + "\n"; }

std::string UsageError(const std::string& error) {
  return "pkfs: " + error + "\nTry 'pkfs --help' for more information.\n";
}

}  // namespace pkfstool
