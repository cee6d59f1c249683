// The summary's wording.
#include "mkupdate/summary.h"

#include <cstdio>

namespace mkupdate {

namespace {

std::string Count(std::size_t n, const char* thing) {
  return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

}  // namespace

std::string SummaryText(const Summary& s) {
  std::string text = "compared " + std::to_string(s.compared) +
                     " files and pack entries of NEW with OLD: " + std::to_string(s.changed) +
                     " changed, " + std::to_string(s.added) + " new, " +
                     std::to_string(s.unchanged) + " unchanged\n";
  text += "written " + Count(s.changed + s.added, "payload") + " (" + s.encoding +
          "): " + std::to_string(s.bytesBefore) + " bytes before encoding, " +
          std::to_string(s.bytesAfter) + " after\n";
  text += "cannot be expressed: " + std::to_string(s.removed) + " removed in NEW, " +
          Count(s.refused, "other change") + "\n";
  char time[64];
  std::snprintf(time, sizeof time, "time %.2f s on %u worker%s\n", s.seconds, s.workers,
                s.workers == 1 ? "" : "s");
  text += time;
  return text;
}

}  // namespace mkupdate
