// Files larger than memory, and than the old 2 and 4 GiB limits, through the
// real program: a 5 GiB loose file delivered plain and compressed arrives
// byte-exact, a pack file of the largest size a volume holds is stored and
// reads back exact, and one byte more is refused before anything is written.
// The files are sparse (and the bzip2 payload a chain of small streams of one
// repeated byte), so that they take little disk and time; the program leaves
// runs of zeros as holes too.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "pkfs/fs_file.h"
#include "pkfs/fs_manager.h"
#include "pkfs/pkfsf.h"
#include "test_support.h"
#include "update_e2e_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::RunResult;
using testing_support::TempDir;
using update_e2e::Bzip2;
using update_e2e::Invert;
using update_e2e::PackReader;
using update_e2e::RunUpdater;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
constexpr std::size_t kChunk = std::size_t{4} << 20;

// Bytes at offsets in a file that is zero everywhere else.
using Marks = std::vector<std::pair<std::uint64_t, std::string>>;

// A sparse file of size bytes, zero but for marks.
void WriteSparse(const std::string& path, std::uint64_t size, const Marks& marks) {
  MakeDirs(fs::path(path).parent_path().string());
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const auto& mark : marks) {
      out.seekp(static_cast<std::streamoff>(mark.first));
      out.write(mark.second.data(), static_cast<std::streamsize>(mark.second.size()));
    }
  }
  fs::resize_file(path, size);
}

// What such a file holds at [offset, offset + length).
void ExpectedPiece(const Marks& marks, std::uint64_t offset, std::size_t length, char* piece) {
  std::fill(piece, piece + length, '\0');
  for (const auto& mark : marks) {
    for (std::size_t i = 0; i < mark.second.size(); ++i) {
      const std::uint64_t at = mark.first + i;
      if (at >= offset && at < offset + length) piece[at - offset] = mark.second[i];
    }
  }
}

// Whether the file at path holds size bytes, zero but for marks: its data
// extents are read and compared, its holes (which read as zeros) only checked
// to hold no mark, so that gigabytes of holes cost nothing to compare.
::testing::AssertionResult HoldsZerosAndMarks(const std::string& path, std::uint64_t size,
                                             const Marks& marks) {
#if defined(_WIN32)
  (void)size;
  (void)marks;
  return ::testing::AssertionFailure() << path << ": holes are looked for on POSIX systems only";
#else
  if (fs::file_size(path) != size) {
    return ::testing::AssertionFailure() << path << " has " << fs::file_size(path)
                                         << " bytes, not " << size;
  }
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return ::testing::AssertionFailure() << path << " does not open";
  std::vector<char> actual(kChunk);
  std::vector<char> expected(kChunk);
  std::uint64_t checked = 0;  // every byte before it matched
  ::testing::AssertionResult result = ::testing::AssertionSuccess();
  while (checked < size && result) {
    off_t data = ::lseek(fd, static_cast<off_t>(checked), SEEK_DATA);
    if (data < 0) data = static_cast<off_t>(size);  // only a hole is left
    // [checked, data) is a hole: no mark may lie in it.
    for (const auto& mark : marks) {
      if (mark.first + mark.second.size() > checked &&
          mark.first < static_cast<std::uint64_t>(data)) {
        result = ::testing::AssertionFailure() << "the mark at " << mark.first << " is lost";
      }
    }
    checked = static_cast<std::uint64_t>(data);
    if (checked >= size || !result) break;
    const off_t hole = ::lseek(fd, data, SEEK_HOLE);
    const std::uint64_t end = std::min<std::uint64_t>(static_cast<std::uint64_t>(hole), size);
    for (; checked < end && result; checked += kChunk) {
      const std::size_t length =
          static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, end - checked));
      if (::pread(fd, actual.data(), length, static_cast<off_t>(checked)) !=
          static_cast<ssize_t>(length)) {
        result = ::testing::AssertionFailure() << "a read of " << path << " failed";
        break;
      }
      ExpectedPiece(marks, checked, length, expected.data());
      if (std::memcmp(actual.data(), expected.data(), length) != 0) {
        result = ::testing::AssertionFailure() << path << " differs within " << length
                                               << " bytes from offset " << checked;
      }
    }
    checked = std::min(checked, end);
  }
  ::close(fd);
  return result;
#endif
}

class BigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    GTEST_SKIP() << "sparse multi-gigabyte files are tested on POSIX systems";
#elif defined(MAROVETIN_SLOW_BUILD)
    GTEST_SKIP() << "gigabytes through a sanitised build take minutes: the plain build runs these";
#endif
    MakeDirs(install() + "/update");
  }
  std::string install() const { return root_.Join("install"); }
  std::string Delivered(const std::string& relative) const {
    return install() + "/update/" + relative;
  }
  RunResult Run(const std::vector<std::string>& arguments) {
    return RunUpdater(install(), arguments);
  }

  TempDir root_;
};

TEST_F(BigFileTest, FiveGibLooseFileArrivesExactPlain) {
  const std::uint64_t size = 5 * kGiB + 3;
  // Marks at the start, across 2 and 4 GiB, and at the end.
  const Marks marks = {
      {0, "head"}, {2 * kGiB - 2, "two-gib"}, {4 * kGiB - 3, "four-gib"}, {size - 4, "tail"}};
  WriteSparse(Delivered("data/big.bin"), size, marks);
  const RunResult r = Run({"-sw", "update"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_TRUE(HoldsZerosAndMarks(install() + "/data/big.bin", size, marks));
}

TEST_F(BigFileTest, FiveGibLooseFileArrivesExactDecompressedAndInverted) {
  // Streams of one block each, whose decoded bytes invert to zeros, between
  // two marks: 160 x 32 MiB = 5 GiB of zeros.
  constexpr int kStreams = 160;
  constexpr std::uint64_t kStreamBytes = std::uint64_t{32} << 20;
  const std::string zeros = Bzip2(std::string(kStreamBytes, '\xFF'));
  std::string payload = Bzip2(Invert("head"));
  for (int i = 0; i < kStreams; ++i) payload += zeros;
  payload += Bzip2(Invert("tail"));
  testing_support::WriteFile(Delivered("data/big.bin"), payload);
  const std::uint64_t size = 8 + kStreams * kStreamBytes;
  const RunResult r = Run({"-dc", "-de", "-df", "-sw", "update"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_TRUE(
      HoldsZerosAndMarks(install() + "/data/big.bin", size, {{0, "head"}, {size - 4, "tail"}}));
  EXPECT_FALSE(FileExists(Delivered("data/big.bin")));
}

TEST_F(BigFileTest, PackFileOfTheLargestSizeIsStoredAndOneByteMoreIsRefused) {
  const std::uint64_t largest = pkfs::LargestFileSizeUnder(pkfs::kDefaultVolumeSizeLimit);
  const Marks marks = {{0, "head"}, {largest - 4, "tail"}};
  WriteSparse(Delivered("Pak/fits.bin"), largest, marks);
  WriteSparse(Delivered("Pak/over.bin"), largest + 1, {{0, "head"}});
  const RunResult r = Run({"-sw", "update", "-df"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find("kept back " + Delivered("Pak/over.bin") +
                       ": too large for a pack volume (" + std::to_string(largest + 1) +
                       " bytes; a volume holds at most " + std::to_string(largest) + ")"),
            std::string::npos)
      << r.err;
  // The refused source stays, and nothing of it went into any volume.
  EXPECT_EQ(fs::file_size(Delivered("Pak/over.bin")), largest + 1);
  EXPECT_FALSE(FileExists(Delivered("Pak/fits.bin")));

  // The stored file reads back exact, streamed through the library.
  PackReader pack(install());
  ASSERT_TRUE(pack.loaded());
  EXPECT_TRUE(pack.Heads("OVER.BIN").empty());
  ASSERT_EQ(pack.Heads("FITS.BIN").size(), 1u);
  pkfs::CFSFile* handle = pkfs::TheManager().Open("FITS.BIN", "rb");
  ASSERT_NE(handle, nullptr);
  std::vector<char> want(kChunk);
  std::vector<char> got(kChunk);
  std::uint64_t offset = 0;
  for (int read; (read = handle->Read(got.data(), static_cast<std::uint32_t>(kChunk))) > 0;
       offset += static_cast<std::uint64_t>(read)) {
    ExpectedPiece(marks, offset, static_cast<std::size_t>(read), want.data());
    ASSERT_EQ(std::memcmp(want.data(), got.data(), static_cast<std::size_t>(read)), 0)
        << "from offset " << offset;
  }
  delete handle;
  EXPECT_EQ(offset, largest);
}

}  // namespace
