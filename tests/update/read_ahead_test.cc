// Decoding ahead on worker threads: the results at each turn are those of an
// inline load, whatever the number of workers; the read-ahead stays inside its
// limits; a file changed after a worker read it is loaded again at its turn.
#include "update/read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/env.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/unnamed_file.h"
#include "test_support.h"

namespace {

using update::ReadAhead;
using update::ReadAheadLimits;
using Bytes = std::vector<unsigned char>;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A loader over an in-memory table: "bad" names fail after giving part of
// their bytes (as a damaged bzip2 stream does), unknown names fail at once.
class TableLoader {
 public:
  explicit TableLoader(std::size_t files, std::size_t size = 0) {
    for (std::size_t i = 0; i < files; ++i) {
      const std::string name = (i % 7 == 3 ? "bad" : "f") + std::to_string(i);
      table_[name] =
          std::string(size != 0 ? size : 1 + (i * 37) % 500, static_cast<char>('a' + i % 26));
      names_.push_back(name);
    }
  }
  const std::vector<std::string>& names() const { return names_; }

  int operator()(const std::string& path, Bytes& buffer) {
    ++calls_;
    auto found = table_.find(path);
    if (found == table_.end()) return -1;
    buffer.insert(buffer.end(), found->second.begin(), found->second.end());
    if (path.compare(0, 3, "bad") == 0) {
      buffer.resize(buffer.size() / 2);
      return -1;
    }
    return static_cast<int>(buffer.size());
  }
  int calls() const { return calls_.load(); }

 private:
  std::map<std::string, std::string> table_;
  std::vector<std::string> names_;
  std::atomic<int> calls_{0};
};

ReadAhead::Loader Use(TableLoader& loader) {
  return [&loader](const std::string& path, Bytes& buffer) { return loader(path, buffer); };
}

TEST(ReadAheadTest, EveryTurnGivesWhatAnInlineLoadGivesForAnyWorkerCount) {
  TableLoader loader(40);
  std::vector<int> expectedResults;
  std::vector<Bytes> expectedBytes;
  for (const std::string& name : loader.names()) {
    Bytes bytes;
    expectedResults.push_back(loader(name, bytes));
    expectedBytes.push_back(bytes);
  }
  for (int workers : {1, 2, 4, 9}) {
    SCOPED_TRACE(workers);
    {
      ReadAhead readAhead(Use(loader), update::ReadAheadLimitsForJobs(workers));
      // Two lists in a row, as the pack stage and the loose-file stage use it;
      // the second is taken only halfway before a third replaces it.
      for (std::size_t take :
           {loader.names().size(), loader.names().size() / 2, loader.names().size()}) {
        readAhead.Start(loader.names());
        for (std::size_t i = 0; i < take; ++i) {
          Bytes bytes;
          EXPECT_EQ(readAhead.Take(i, loader.names()[i], bytes), expectedResults[i]) << i;
          EXPECT_EQ(bytes, expectedBytes[i]) << i;
        }
      }
    }  // gone: loads of the dropped list that were still running have ended
    // Entries the run removed fail at their turn without a look at the disk.
    ReadAhead readAhead(Use(loader), update::ReadAheadLimitsForJobs(workers));
    std::vector<bool> removed(loader.names().size());
    for (std::size_t i = 0; i < removed.size(); i += 3) removed[i] = true;
    const int callsBefore = loader.calls();
    readAhead.Start(loader.names(), removed);
    int expectedCalls = 0;
    for (std::size_t i = 0; i < removed.size(); ++i) {
      Bytes bytes;
      EXPECT_EQ(readAhead.Take(i, loader.names()[i], bytes), removed[i] ? -1 : expectedResults[i]);
      EXPECT_EQ(bytes, removed[i] ? Bytes() : expectedBytes[i]) << i;
      if (!removed[i]) ++expectedCalls;
    }
    EXPECT_EQ(loader.calls() - callsBefore, expectedCalls);
    // Out of order, or a name the list does not hold: loaded on the spot.
    Bytes bytes;
    EXPECT_EQ(readAhead.Take(7, "f1", bytes), expectedResults[1]);
    bytes.clear();
    EXPECT_EQ(readAhead.Take(0, "missing", bytes), -1);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(readAhead.stats().reloads, 0u);
  }
}

TEST(ReadAheadTest, StaysInsideItsFileAndByteLimits) {
  constexpr std::size_t kFileSize = 1000;
  struct Case {
    int workers;
    std::size_t maxFiles;
    std::size_t maxBytes;
  };
  for (const Case& c : {Case{4, 3, std::size_t{1} << 30}, Case{2, 8, 2500}, Case{3, 6, 10}}) {
    SCOPED_TRACE(c.maxFiles);
    TableLoader loader(60, kFileSize);
    ReadAheadLimits limits;
    limits.workers = c.workers;
    limits.maxFiles = c.maxFiles;
    limits.maxBytes = c.maxBytes;
    ReadAhead readAhead(Use(loader), limits);
    readAhead.Start(loader.names());
    for (std::size_t i = 0; i < loader.names().size(); ++i) {
      // A slow consumer: the workers run into the limits.
      if (i % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      Bytes bytes;
      readAhead.Take(i, loader.names()[i], bytes);
      ASSERT_EQ(bytes.size(), i % 7 == 3 ? kFileSize / 2 : kFileSize) << i;
    }
    const ReadAhead::Stats stats = readAhead.stats();
    EXPECT_LE(stats.peakFiles, c.maxFiles);
    // No file starts once the mark is reached; those already decoding finish.
    EXPECT_LT(stats.peakBytes, c.maxBytes + static_cast<std::size_t>(c.workers) * kFileSize);
    // Every file was loaded exactly once, by a worker or at its turn.
    EXPECT_EQ(loader.calls(), 60);
  }
}

// Real files: the run rewrites and deletes files that workers already read.
class ReadAheadFilesTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.Join(name); }

  // Waits (a few seconds at most) until the workers have loaded count files.
  void AwaitLoads(int count) const {
    for (int i = 0; i < 500 && loads_.load() < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(loads_.load(), count);
  }

  ReadAhead::Loader FileLoader() {
    return [this](const std::string& path, Bytes& buffer) {
      const std::string text = testing_support::ReadFile(path);
      const bool exists = testing_support::FileExists(path);
      buffer.assign(text.begin(), text.end());
      ++loads_;
      return exists ? static_cast<int>(buffer.size()) : -1;
    };
  }

  // As the updater's loader does: the stamp is the opened file's own.
  ReadAhead::StampingLoader StampingFileLoader() {
    return [this](const std::string& path, Bytes& buffer, platform::FileStamp* stamp) {
      *stamp = platform::FileStamp();
      std::unique_ptr<platform::SequentialFile> file;
      const bool opened = platform::Env::Default()->OpenSequentialFile(path, &file, stamp).ok();
      ++loads_;
      if (!opened) return -1;
      unsigned char piece[256];
      for (std::size_t got; file->Read(piece, sizeof piece, &got).ok() && got > 0;) {
        buffer.insert(buffer.end(), piece, piece + got);
      }
      return static_cast<int>(buffer.size());
    };
  }

  testing_support::TempDir dir_;
  std::atomic<int> loads_{0};
};

// With a plain loader (the read-ahead looks at the path first) and with one
// that stamps the file it opened.
class ReadAheadReloadTest : public ReadAheadFilesTest,
                            public ::testing::WithParamInterface<bool> {};

INSTANTIATE_TEST_SUITE_P(PlainAndStamping, ReadAheadReloadTest, ::testing::Bool());

TEST_P(ReadAheadReloadTest, FileChangedAfterItWasReadAheadIsLoadedAgainAtItsTurn) {
  const std::vector<std::string> names = {"a", "b", "c", "d", "e"};
  std::vector<std::string> paths;
  for (const std::string& name : names) {
    testing_support::WriteFile(Path(name), "old " + name);
    paths.push_back(Path(name));
  }
  // Each file decoded ahead is also written ahead, unnamed, into "out".
  testing_support::MakeDirs(Path("out"));
  const bool systemHasUnnamedFiles =
      platform::UnnamedFile::Write(Path("out"), nullptr, 0) != nullptr;
  ReadAhead readAhead = GetParam()
                            ? ReadAhead(StampingFileLoader(), update::ReadAheadLimitsForJobs(4))
                            : ReadAhead(FileLoader(), update::ReadAheadLimitsForJobs(4));
  readAhead.Start(paths, {}, [this](const std::string&, const Bytes& decoded) {
    return platform::UnnamedFile::Write(Path("out"), decoded.data(), decoded.size());
  });
  AwaitLoads(5);

  Bytes bytes;
  std::unique_ptr<platform::UnnamedFile> prepared;
  EXPECT_EQ(readAhead.Take(0, paths[0], bytes, &prepared), 5);
  EXPECT_EQ(bytes, Text("old a"));
  EXPECT_EQ(prepared != nullptr, systemHasUnnamedFiles);
  // Announced rewrites of the same length (the stamp alone might not tell
  // within one clock tick), an unannounced one of another length, and an
  // announced deletion: each turn sees the file as it is then, and gets no
  // file written from the bytes it no longer has.
  readAhead.BeforeChange(paths[1]);
  testing_support::WriteFile(paths[1], "new b");
  testing_support::WriteFile(paths[2], "newer c");
  readAhead.BeforeChange(paths[3]);
  platform::Env::Default()->DeleteFile(paths[3]);
  for (std::size_t i = 1; i < 4; ++i) {
    bytes.clear();
    std::unique_ptr<platform::UnnamedFile> stale;
    const int result = readAhead.Take(i, paths[i], bytes, &stale);
    const std::string expected = i == 1 ? "new b" : i == 2 ? "newer c" : "";
    EXPECT_EQ(result, i == 3 ? -1 : static_cast<int>(expected.size())) << i;
    EXPECT_EQ(bytes, Text(expected)) << i;
    EXPECT_EQ(stale, nullptr) << i;
  }
  bytes.clear();
  EXPECT_EQ(readAhead.Take(4, paths[4], bytes), 5);
  EXPECT_EQ(bytes, Text("old e"));
  EXPECT_EQ(readAhead.stats().reloads, 3u);

  // The file written ahead holds the bytes handed out, and only naming it
  // makes it appear; the ones never named left nothing behind.
  if (systemHasUnnamedFiles) {
    ASSERT_TRUE(prepared->Name(Path("out/a")));
    EXPECT_FALSE(prepared->Name(Path("out/again")));  // named once only
  }
  readAhead.Start({});
  prepared.reset();
  std::size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Path("out"))) {
    EXPECT_EQ(entry.path().filename(), "a");
    EXPECT_EQ(testing_support::ReadFile(entry.path().string()), "old a");
    ++entries;
  }
  EXPECT_EQ(entries, systemHasUnnamedFiles ? 1u : 0u);
}

}  // namespace
