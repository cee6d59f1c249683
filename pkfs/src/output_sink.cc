// The library's default output: the process's standard streams.
#include "pkfs/output_sink.h"

#include <cstdio>

namespace pkfs {

void WriteToStandardStreams(OutputStream stream, const std::string& text) {
  std::FILE* target = stream == OutputStream::kError ? stderr : stdout;
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), target);
  std::fflush(target);
}

void DiscardOutput(OutputStream, const std::string&) {}

}  // namespace pkfs
