// Writing a whole buffer to a file.
#include <cstdio>
#include <string>
#include <vector>

#include "fileutil/file_util.h"
#include "platform/debug_output.h"
#include "platform/file_system.h"

namespace fileutil {

bool WriteBufferToFile(const std::string& path, const std::vector<unsigned char>& buffer,
                       platform::Env* env) {
  std::string target = path;
  if (!target.empty() && target[0] == '/') target.erase(0, 1);
  env->SetAttributesNormal(target);  // a missing file is fine: it is about to be created
  std::FILE* file = nullptr;
  if (!env->OpenStream(target, "wb", &file).ok()) {
    platform::DebugOutput("Write Buffer Error!!");
    return false;
  }
  bool written = buffer.empty() || std::fwrite(buffer.data(), buffer.size(), 1, file) == 1;
  // Data still buffered reach the disk at fclose, which can fail too.
  bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    platform::DebugOutput("Write Buffer Error!!");
    return false;
  }
  platform::DebugOutput("Write Buffer OK!!");
  return true;
}

}  // namespace fileutil
