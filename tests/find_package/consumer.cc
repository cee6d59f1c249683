// Stores one file in a fresh volume and reads it back through a handle.
#include <cstring>
#include <memory>
#include <string>

#include "pkfs/fs_file.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"

int main() {
  pkfs::CFSManager& manager = pkfs::TheManager();
  auto owned = std::make_unique<pkfs::CPKFSF>(&manager);
  pkfs::CPKFSF* packs = owned.get();
  if (!pkfs::SetFileSystem("consumer.pak", std::move(owned))) manager.CreateVolume("consumer.pak");

  std::string text = "stored through find_package";
  std::string copy = text;
  if (!packs->AddFile("docs/a.bin", reinterpret_cast<unsigned char*>(&copy[0]),
                      static_cast<std::uint32_t>(copy.size()))) {
    return 1;
  }
  pkfs::CFSFile* file = manager.Open("DOCS/A.BIN", "rb");
  if (file == nullptr) return 2;
  char buffer[64] = {};
  int n = file->Read(buffer, sizeof buffer);
  delete file;
  return n == static_cast<int>(text.size()) && std::memcmp(buffer, text.data(), text.size()) == 0
             ? 0
             : 3;
}
