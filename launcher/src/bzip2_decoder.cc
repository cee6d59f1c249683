#include "launcher/bzip2_decoder.h"

namespace launcher {

bool DecodeBzip2Streams(const unsigned char*, std::size_t, std::vector<unsigned char>&) {
  return false;
}

}  // namespace launcher
