// pakls: lists what a set of pack volumes holds, or prints one stored file.
//
//   pakls DATA.pak            one line per stored file: name, size, flags, volume
//   pakls DATA.pak NAME       the stored bytes of NAME (decoded) on standard output
//
// The volumes are read through the pack file system exactly as the updater
// mounts them: the id-0 filter registered first, then the first volume and
// its chain loaded.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "pkfs/file_head.h"
#include "pkfs/fs_file.h"
#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "pack_archive.h"

namespace {

int List(const pkfs::CPKFSF& fileSystem) {
  std::printf("%-32s %10s  %-10s  %s\n", "name", "size", "flags", "volume");
  int files = 0;
  for (const auto& volume : fileSystem.archives()) {
    for (const auto& head : volume->heads()) {
      std::printf("%-32s %10u  0x%08X  %s\n", head->name.c_str(), head->size, head->flags,
                  volume->name().c_str());
      ++files;
    }
  }
  std::printf("%d file(s) in %zu volume(s)\n", files, fileSystem.archives().size());
  return 0;
}

int Print(const std::string& name) {
  pkfs::CFSFile* handle = pkfs::TheManager().Open(name, "rb");
  if (handle == nullptr) {
    std::fprintf(stderr, "pakls: %s is not stored\n", name.c_str());
    return 1;
  }
  unsigned char chunk[4096];
  int got;
  while ((got = handle->Read(chunk, sizeof chunk)) > 0) {
    std::fwrite(chunk, 1, static_cast<std::size_t>(got), stdout);
  }
  delete handle;  // closes it with its file system
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: pakls VOLUME [NAME]\n");
    return 64;
  }
  pkfs::CFSManager& manager = pkfs::TheManager();
  auto owned = std::make_unique<pkfs::CPKFSF>(&manager);
  pkfs::CPKFSF* fileSystem = owned.get();
  manager.RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
  // Loading prints a line per volume; keep them out of the listing and out
  // of a printed file.
  std::fflush(stdout);
  int savedStdout = dup(1);
  int devNull = open("/dev/null", O_WRONLY);
  if (devNull >= 0) dup2(devNull, 1);
  bool loaded = pkfs::SetFileSystem(argv[1], std::move(owned));
  std::fflush(stdout);
  if (savedStdout >= 0) dup2(savedStdout, 1);
  if (devNull >= 0) close(devNull);
  if (savedStdout >= 0) close(savedStdout);
  if (!loaded) {
    std::fprintf(stderr, "pakls: %s is not a pack volume\n", argv[1]);
    return 1;
  }
  return argc == 3 ? Print(argv[2]) : List(*fileSystem);
}
