#include "launcher/usage.h"

#include <cstring>

#ifndef MAROVETIN_VERSION
#define MAROVETIN_VERSION "unknown"
#endif

namespace launcher {

InfoRequest FindInfoRequest(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    if (std::strcmp(argv[i], "--help") == 0) return InfoRequest::kHelp;
    if (std::strcmp(argv[i], "--version") == 0) return InfoRequest::kVersion;
  }
  return InfoRequest::kNone;
}

bool IsQuietArgument(const char* argument) {
  return argument != nullptr &&
         (std::strcmp(argument, "-q") == 0 || std::strcmp(argument, "--quiet") == 0);
}

bool QuietRequested(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (IsQuietArgument(argv[i])) return true;
  }
  return false;
}

std::string HelpText() {
  std::string text =
      "Usage: marovetin [OPTION]...\n"
      "Brings the update files delivered below the work path into the installation in\n"
      "the current directory. With -mbts or -sv it runs that small utility instead.\n"
      "\n"
      "Options (letter case does not matter):\n";
  for (int r = 0; r < OptionTable::kRowCount; ++r) {
    const OptionRow& row = OptionTable::row(r);
    std::string left = std::string("  ") + row.text;
    if (row.valueCount > 0) left += std::string(" ") + row.valueHelp;
    left.resize(left.size() < 24 ? 24 : left.size() + 1, ' ');
    text += left + row.meaning + "\n";
  }
  text +=
      "  -q, --quiet           leave out the progress lines on standard output, and\n"
      "                        the progress window on a Linux desktop\n"
      "  --help                print this help and exit\n"
      "  --version             print the version and exit\n"
      "\n"
      "How an update run works:\n"
      "  - The work path is the installation itself (the current directory) unless\n"
      "    -sw names a directory inside it, relative or absolute (-dc and -de need\n"
      "    -sw).\n"
      "  - Files below WORK/Pak (any letter case) are stored in the pack volumes\n"
      "    (DATA.pak, then Data1.pak, ... beside it) under their path below Pak;\n"
      "    names containing \"txt\" or \"xml\" are stored scrambled. Then every file\n"
      "    below the work path is written into the installation under its path\n"
      "    below the work path. A replaced file keeps its permissions; a new one\n"
      "    takes the delivered file's, less the umask.\n"
      "  - Without -df the update files stay, and the pack files are also written as\n"
      "    loose files under Pak/ in the installation.\n"
      "  - Links to directories below the work path are not followed (each is kept\n"
      "    back and named); no delivered file is written over a pack volume.\n"
      "  - Of two files whose names differ only in letter case the later one wins;\n"
      "    with -df the earlier one is moved into WORK/.kept-back/.\n"
      "  - With -dc and -de a file is decoded from bzip2 first, then inverted.\n"
      "  - -v reads Patch.dat (two 32-bit little-endian values) in the current\n"
      "    directory and UpdateSetting/UpdateIndex.dat (one); the update runs when\n"
      "    the index is at least the first value. A missing or short file refuses\n"
      "    it, and standard error says which.\n"
      "  - Names match without regard to letter case; directories whose names begin\n"
      "    with \".\" are skipped; arguments that are not options are ignored (each\n"
      "    named once on standard error).\n"
      "  - The built programs are build/launcher/marovetin and build/tools/pkfs/pkfs;\n"
      "    installed, both are in bin/. See marovetin(1) and pkfs(1).\n"
      "\n"
      "Exit status:\n"
      "  0   completed (also when the work path does not exist: nothing to apply,\n"
      "      nothing created)\n"
      "  1   an update file was kept back or left unapplied below the work path, a\n"
      "      payload could not be decoded, a file of -mbts or -sv could not be\n"
      "      opened, or the -mbts source holds fewer than 4 bytes (each named on\n"
      "      standard error)\n"
      "  2   the version check refused the update\n"
      "  64  unusable command line, refused before anything is touched: an option\n"
      "      missing its value; -dc or -de without -sw; a work path that contains\n"
      "      the installation or lies outside it; an -sv value that is not a\n"
      "      decimal number from 0 to 4294967295; a -log file that is a pack\n"
      "      volume; an -sp volume inside the work path\n";
  return text;
}

std::string VersionText() { return std::string("marovetin ") + MAROVETIN_VERSION + "\n"; }

std::string MissingValueMessage(Option option) {
  const OptionRow& row = OptionTable::row(option);
  return std::string("marovetin: option ") + row.text + " needs " +
         (row.valueCount == 1 ? "a value" : "two values") + " (" + row.valueHelp +
         ") after it\nTry 'marovetin --help' for more information.\n";
}

}  // namespace launcher
