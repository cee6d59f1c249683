// What a run did, in the few lines a publisher reads after it.
#ifndef MKUPDATE_SUMMARY_H_
#define MKUPDATE_SUMMARY_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace mkupdate {

struct Summary {
  std::size_t compared = 0;  // NEW's files and pack entries looked at
  std::size_t changed = 0;   // written: OLD has them with other bytes
  std::size_t added = 0;     // written: OLD lacks them
  std::size_t unchanged = 0;
  std::size_t removed = 0;        // OLD has them, NEW lacks them: not expressible
  std::size_t refused = 0;        // other changes that cannot be expressed
  std::uint64_t bytesBefore = 0;  // of the written files, as NEW holds them
  std::uint64_t bytesAfter = 0;   // of their payloads
  double seconds = 0;
  unsigned workers = 1;
  std::string encoding;  // "-dc -de", "-dc", "-de" or "plain"
};

// The summary's lines, each ending in a newline.
std::string SummaryText(const Summary& summary);

}  // namespace mkupdate

#endif  // MKUPDATE_SUMMARY_H_
