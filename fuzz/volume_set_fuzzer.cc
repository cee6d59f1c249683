// A volume set loaded from arbitrary bytes (one to three volumes, DATA.pak,
// Data1.pak and Data2.pak, with or without the directory filter), then every
// entry read through handles: whole reads in pieces, getc, gets and seeks,
// each checked against the entry's bytes read straight from the volume. A set
// that loads must also describe itself soundly: regions inside the file and
// apart, and a free-space list equal to its rebuild.
//
// Input: a settings byte, a read plan of 8 bytes, then the volumes separated
// by "~VOL~".
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "pack_archive.h"
#include "pkfs/pack_format.h"
#include "pkfs/file_head.h"
#include "pkfs/fs_file.h"
#include "pkfs/fs_filter.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"

namespace {

using Bytes = std::vector<unsigned char>;

const char* const kVolumeNames[] = {"DATA.pak", "Data1.pak", "Data2.pak"};
constexpr std::size_t kMaxEntriesRead = 64;

struct ReadPlan {
  std::uint32_t chunk;      // piece size of the whole read
  int getsLength;           // buffer length of gets
  std::int32_t seekOffset;  // seeks probe around this offset
  std::uint8_t seekOrigin;
  std::uint8_t seekReads;
};

void CheckVolume(const pkfs::PackArchive& volume) {
  const std::uint64_t fileSize = volume.stream()->Size();
  std::vector<std::pair<std::uint64_t, std::uint64_t>> regions;
  regions.emplace_back(0, pkfs::kPackHeaderBytes);
  regions.emplace_back(volume.tableOffset(),
                       std::uint64_t{volume.tableOffset()} + volume.tableSize());
  for (const auto& head : volume.heads()) {
    FUZZ_CHECK(head->size != 0, "a kept head has bytes");
    regions.emplace_back(head->start, std::uint64_t{head->start} + head->size);
  }
  std::sort(regions.begin(), regions.end());
  for (std::size_t i = 0; i < regions.size(); ++i) {
    FUZZ_CHECK(regions[i].second <= fileSize, "every region lies inside the file");
    if (i > 0) FUZZ_CHECK(regions[i - 1].second <= regions[i].first, "no two regions overlap");
  }
  FUZZ_CHECK(volume.leakList().bounds() == volume.ComputeLeakList().bounds(),
             "the free-space list is its own rebuild");
}

// What gets gives from position over bytes, and where it leaves the position.
std::pair<std::string, std::int64_t> ExpectedLine(const Bytes& bytes, std::int64_t position,
                                                  int length) {
  std::string line(static_cast<std::size_t>(length), '\0');
  for (int i = 0; i < length - 1; ++i) {
    if (position < 0 || position >= static_cast<std::int64_t>(bytes.size())) break;
    const unsigned char byte = bytes[static_cast<std::size_t>(position++)];
    if (byte == '\n' || byte == '\0') {
      if (i > 0 && line[i - 1] == '\r') line[i - 1] = '\0';
      break;
    }
    line[i] = static_cast<char>(byte);
  }
  return {line, position};
}

void CheckEntry(pkfs::CFSManager& manager, const std::string& key, bool filtered,
                const ReadPlan& plan) {
  pkfs::FileHead* head = manager.FindName(key);
  FUZZ_CHECK(head != nullptr && head->owner != nullptr, "a registered name has a volume");
  Bytes expected(head->size);
  FUZZ_CHECK(head->owner->ReadBuffer(expected.data(), head->start, head->size),
             "a checked region reads whole");
  if ((head->flags & pkfs::kFlagInPlace) != 0 && filtered && head->FilterId() == 0) {
    pkfs::DecodeBuffer(expected.data(), head->size);
  }

  std::unique_ptr<pkfs::CFSFile> handle(manager.OpenByKey(key, "rb"));
  FUZZ_CHECK(handle != nullptr, "a registered name opens");
  handle->SetModeFromText("rb");
  handle->RefillWindow();

  Bytes whole;
  Bytes piece(plan.chunk);
  for (int got; (got = handle->Read(piece.data(), plan.chunk)) > 0;) {
    FUZZ_CHECK(whole.size() + static_cast<std::size_t>(got) <= expected.size(),
               "no read past the end");
    whole.insert(whole.end(), piece.begin(), piece.begin() + got);
  }
  FUZZ_CHECK(whole == expected, "reads in pieces give the entry");
  FUZZ_CHECK(handle->Eof(), "eof after the last piece");

  // A seek leaves the window as it was and a direct read does not refill it,
  // so a byte-wise pass after a seek would read the volume once per byte:
  // start each pass with the window filled, as an open does.
  handle->Seek(0, 0);
  handle->RefillWindow();
  Bytes bytewise;
  for (int c; bytewise.size() <= expected.size() && (c = handle->Getc()) != -1;) {
    bytewise.push_back(static_cast<unsigned char>(c));
  }
  // 0xFF reads as -1 and so ends the bytewise read early; compare what came.
  FUZZ_CHECK(bytewise.size() <= expected.size() &&
                 std::equal(bytewise.begin(), bytewise.end(), expected.begin()),
             "getc gives the entry byte by byte");

  handle->Seek(0, 0);
  handle->RefillWindow();
  std::string line(static_cast<std::size_t>(plan.getsLength), '\0');
  for (std::size_t lines = 0; lines <= expected.size() && !handle->Eof(); ++lines) {
    const auto want = ExpectedLine(expected, handle->Tell(), plan.getsLength);
    handle->Gets(&line[0], plan.getsLength);
    FUZZ_CHECK(line == want.first, "gets gives the line");
    FUZZ_CHECK(handle->Tell() == want.second, "gets stops after the line end");
    if (plan.getsLength == 1) break;  // stores nothing and so never moves
  }

  for (std::uint8_t i = 0; i < plan.seekReads; ++i) {
    handle->Seek(plan.seekOffset + i * 7, (plan.seekOrigin + i) % 4);
    const std::int64_t at = handle->Tell();
    const std::uint32_t length = plan.chunk + i;
    Bytes out(length);
    const int got = handle->Read(out.data(), length);
    std::int64_t want = 0;
    if (at >= 0 && at < static_cast<std::int64_t>(expected.size())) {
      want = std::min<std::int64_t>(length, static_cast<std::int64_t>(expected.size()) - at);
    }
    FUZZ_CHECK(got == want, "a read after a seek gives what is left");
    FUZZ_CHECK(std::equal(out.begin(), out.begin() + got, expected.begin() + (got ? at : 0)),
               "a read after a seek gives the bytes there");
    FUZZ_CHECK(handle->Tell() == at + got, "a read moves the position by its count");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceStandardOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader input(data, size);
  const std::uint8_t settings = input.U8();
  const bool filtered = (settings & 1) != 0;
  ReadPlan plan;
  plan.chunk = 1 + input.U16() % 3000;
  plan.getsLength = 1 + input.U8();
  plan.seekOffset = static_cast<std::int16_t>(input.U16());
  plan.seekOrigin = input.U8();
  plan.seekReads = input.U8() % 8;
  input.U8();  // reserved, keeps the plan 8 bytes

  const std::string& dir = fuzz::CleanScratchDirectory();
  for (const char* name : kVolumeNames) {
    if (input.empty()) break;
    FUZZ_CHECK(fuzz::WriteWholeFile(dir + "/" + name, input.Until("~VOL~")), "a volume is written");
  }

  auto manager = std::make_unique<pkfs::CFSManager>(dir);
  if (filtered) manager->RegisterFilter(std::make_unique<pkfs::CFSFilter>(0));
  auto owned = std::make_unique<pkfs::CPKFSF>(manager.get());
  pkfs::CPKFSF* fileSystem = owned.get();
  // Volume names in trailers are relative to the process's directory; the
  // scratch directory is it for the whole run.
  static const bool inScratch = [&] {
    std::error_code error;
    std::filesystem::current_path(dir, error);
    return !error;
  }();
  FUZZ_CHECK(inScratch, "the scratch directory is the current directory");
  if (!manager->SetFileSystem(kVolumeNames[0], std::move(owned))) return 0;

  FUZZ_CHECK(!fileSystem->archives().empty(), "a loaded set has a volume");
  for (const auto& volume : fileSystem->archives()) CheckVolume(*volume);
  std::vector<std::string> keys;
  for (const auto& entry : manager->fileMap()) {
    FUZZ_CHECK(fileSystem->Holds(entry.second->owner), "a name resolves into the set");
    if (keys.size() < kMaxEntriesRead) keys.push_back(entry.first);
  }
  for (const std::string& key : keys) CheckEntry(*manager, key, filtered, plan);
  return 0;
}
