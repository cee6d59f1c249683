#include "launcher/payload_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "launcher/byte_inversion.h"
#include "test_support.h"

namespace launcher {
namespace {

using Bytes = std::vector<unsigned char>;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr unsigned char kGuard = 0x5A;
constexpr std::size_t kGuardBytes = 16;

Bytes Pattern(std::size_t length) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<unsigned char>(i * 37 + 11);
  return bytes;
}

Bytes Complement(Bytes bytes) {
  for (unsigned char& b : bytes) b = static_cast<unsigned char>(255 - b);
  return bytes;
}

std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Pseudo-random bytes: they do not compress, so a stream of them spans
// several bzip2 blocks.
Bytes Noise(std::size_t length) {
  Bytes bytes(length);
  std::uint32_t state = 12345;
  for (unsigned char& b : bytes) {
    state = state * 1103515245u + 12345u;
    b = static_cast<unsigned char>(state >> 24);
  }
  return bytes;
}

std::string Bzip2(const Bytes& plain, int blockSize100k = 9) {
  return testing_support::Bzip2(AsString(plain), blockSize100k);
}

using InvertRoutine = void (*)(unsigned char*, std::size_t);

class InversionTest : public ::testing::TestWithParam<InvertRoutine> {};

TEST_P(InversionTest, ComplementsExactlyTheRangeAtEveryOffset) {
  for (std::size_t length : {0, 1, 7, 8, 9, 15, 16, 63, 64, 65, 127, 4096}) {
    // Different start offsets so that head bytes and blocks fall differently.
    for (std::size_t offset = 0; offset < 8; ++offset) {
      Bytes area(kGuardBytes + offset + length + kGuardBytes, kGuard);
      const Bytes payload = Pattern(length);
      std::copy(payload.begin(), payload.end(), area.begin() + kGuardBytes + offset);
      GetParam()(area.data() + kGuardBytes + offset, length);

      Bytes expected(kGuardBytes + offset, kGuard);
      const Bytes inverted = Complement(payload);
      expected.insert(expected.end(), inverted.begin(), inverted.end());
      expected.insert(expected.end(), kGuardBytes, kGuard);
      ASSERT_EQ(area, expected) << "length " << length << " offset " << offset;
    }
  }
}

// Named explicitly: the default name would print the function's address,
// which differs from run to run and so from the name CTest discovered.
INSTANTIATE_TEST_SUITE_P(BothRoutines, InversionTest,
                         ::testing::Values(&InvertBytesOneByOne, &InvertBytesInBlocks),
                         [](const ::testing::TestParamInfo<InversionTest::ParamType>& param) {
                           return param.index == 0 ? std::string("ByteLoop")
                                                   : std::string("Blocks");
                         });

TEST(InvertBufferTest, KnownValuesAndTwiceRestores) {
  Bytes bytes = {0x00, 0x5A, 0xFF, 0x01};
  PayloadLoader loader(ProcessorInfo{true});
  loader.invertBuffer(bytes.data(), bytes.size());
  EXPECT_EQ(bytes, (Bytes{0xFF, 0xA5, 0x00, 0xFE}));
  loader.invertBuffer(bytes.data(), bytes.size());
  EXPECT_EQ(bytes, (Bytes{0x00, 0x5A, 0xFF, 0x01}));
}

class PayloadLoaderTest : public ::testing::Test {
 protected:
  std::string file(const std::string& name, const std::string& content) {
    const std::string path = dir_.Join(name);
    WriteFile(path, content);
    return path;
  }
  TempDir dir_;
};

TEST_F(PayloadLoaderTest, StartsWithBothFlagsOff) {
  PayloadLoader loader;
  EXPECT_FALSE(loader.invertBytes());
  EXPECT_FALSE(loader.readBzip2());
}

TEST_F(PayloadLoaderTest, PlainReadReturnsTheSize) {
  const Bytes payload = Pattern(10);
  const std::string path = file("ten.bin", AsString(payload));
  PayloadLoader loader;
  Bytes buffer;
  EXPECT_EQ(loader.loadFile(path, buffer), 10);
  EXPECT_EQ(buffer, payload);
}

TEST_F(PayloadLoaderTest, PlainReadWithInversionReturnsZero) {
  const Bytes payload = Pattern(10);
  const std::string path = file("ten.bin", AsString(payload));
  for (bool mmx : {false, true}) {
    PayloadLoader loader(ProcessorInfo{mmx});
    loader.setInvertBytes(true);
    Bytes buffer;
    EXPECT_EQ(loader.loadFile(path, buffer), 0);
    EXPECT_EQ(buffer, Complement(payload));
  }
}

TEST_F(PayloadLoaderTest, EmptyFileGivesAnEmptyBufferAndZero) {
  const std::string path = file("empty.bin", "");
  for (bool invert : {false, true}) {
    PayloadLoader loader;
    loader.setInvertBytes(invert);
    Bytes buffer;
    EXPECT_EQ(loader.loadFile(path, buffer), 0);
    EXPECT_TRUE(buffer.empty());
  }
}

TEST_F(PayloadLoaderTest, BackslashPathsAreAccepted) {
  file("sub/a.bin", "abc");
  PayloadLoader loader;
  Bytes buffer;
  EXPECT_EQ(loader.loadFile(dir_.path() + "\\sub\\a.bin", buffer), 3);
  EXPECT_EQ(AsString(buffer), "abc");
}

TEST_F(PayloadLoaderTest, UnreadablePathsFailAndLeaveTheBufferAlone) {
  for (bool bzip2 : {false, true}) {
    PayloadLoader loader;
    loader.setReadBzip2(bzip2);
    Bytes buffer = {1, 2, 3};
    EXPECT_EQ(loader.loadFile(dir_.Join("missing.bin"), buffer), -1);
    EXPECT_EQ(loader.loadFile(nullptr, buffer), -1);
    EXPECT_EQ(loader.loadFile(dir_.path(), buffer), -1);  // a directory
    EXPECT_EQ(buffer, (Bytes{1, 2, 3}));
  }
}

TEST_F(PayloadLoaderTest, EveryWayOutClosesTheFile) {
#ifdef _WIN32
  GTEST_SKIP() << "counts descriptors in /proc/self/fd, which under wine lists wine's own";
#endif
  const std::string plain = file("plain.txt", "not bzip2");
  const std::string packed = file("ok.bz2", Bzip2(Pattern(100)));
  std::string cut = Bzip2(Noise(300000), 1);
  cut.resize(cut.size() - 20);
  const std::string truncated = file("cut.bz2", cut);
  const std::size_t before = testing_support::OpenDescriptorCount();
  for (bool bzip2 : {false, true}) {
    PayloadLoader loader;
    loader.setReadBzip2(bzip2);
    for (const std::string& path : {plain, packed, truncated, dir_.Join("missing")}) {
      Bytes buffer;
      loader.loadFile(path, buffer);
    }
  }
  EXPECT_EQ(testing_support::OpenDescriptorCount(), before);
}

TEST_F(PayloadLoaderTest, Bzip2ReadDecompresses) {
  const Bytes payload = Pattern(10000);  // several 4096-byte pieces
  const std::string path = file("data.bz2", Bzip2(payload));
  PayloadLoader loader;
  loader.setReadBzip2(true);
  Bytes buffer;
  EXPECT_EQ(loader.loadFile(path, buffer), 0);
  EXPECT_EQ(buffer, payload);
}

TEST_F(PayloadLoaderTest, Bzip2ReadWithInversionInvertsAfterDecompressing) {
  const Bytes payload = Pattern(5000);
  const std::string path = file("data.bz2", Bzip2(Complement(payload)));
  PayloadLoader loader;
  loader.setReadBzip2(true);
  loader.setInvertBytes(true);
  Bytes buffer;
  EXPECT_EQ(loader.loadFile(path, buffer), 0);
  EXPECT_EQ(buffer, payload);
}

TEST_F(PayloadLoaderTest, NotBzip2DataFailsWithAnEmptyBuffer) {
  const std::string path = file("plain.txt", "this is not a bzip2 stream at all");
  PayloadLoader loader;
  loader.setReadBzip2(true);
  loader.setInvertBytes(true);
  Bytes buffer;
  EXPECT_EQ(loader.loadFile(path, buffer), -1);
  EXPECT_TRUE(buffer.empty());
}

TEST_F(PayloadLoaderTest, ConcatenatedStreamsAreAllDecodedAndTrailingBytesFail) {
  const Bytes big = Noise(150000);
  const Bytes small = Pattern(10);
  const std::string one = Bzip2(big, 1), two = Bzip2(small), none = Bzip2(Bytes{});
  struct Case {
    std::string file;
    int result;
    Bytes decoded;  // on success
  };
  Bytes both = big;
  both.insert(both.end(), small.begin(), small.end());
  const std::vector<Case> cases = {
      {one + two, 0, both},
      {two + none + two + none, 0,
       [&] {
         Bytes twice;
         for (int copy = 0; copy < 2; ++copy)
           for (unsigned char byte : small) twice.push_back(byte);
         return twice;
       }()},
      {none, 0, Bytes{}},
      {two + "garbage", -1, {}},
      {two + "BZh", -1, {}},  // a stream that breaks off in its header
      {two + std::string(1, '\0'), -1, {}},
      {two + one.substr(0, one.size() / 2), -1, {}},
      {"", -1, {}},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string path = file("multi" + std::to_string(i) + ".bz2", cases[i].file);
    for (bool invert : {false, true}) {
      PayloadLoader loader;
      loader.setReadBzip2(true);
      loader.setInvertBytes(invert);
      Bytes buffer;
      EXPECT_EQ(loader.loadFile(path, buffer), cases[i].result) << i;
      if (cases[i].result == 0) {
        EXPECT_EQ(buffer, invert ? Complement(cases[i].decoded) : cases[i].decoded) << i;
      }
    }
  }
}

TEST_F(PayloadLoaderTest, TruncatedBzip2KeepsWhatWasDecoded) {
  const Bytes payload = Noise(300000);
  std::string packed = Bzip2(payload, 1);  // three blocks of 100k
  packed.resize(packed.size() - 20);
  const std::string path = file("cut.bz2", packed);
  PayloadLoader loader;
  loader.setReadBzip2(true);
  loader.setInvertBytes(true);
  Bytes buffer;
  EXPECT_EQ(loader.loadFile(path, buffer), -1);
  // The whole blocks before the cut were decoded and stay as the stream gave
  // them: inversion applies to a whole decoded stream only.
  ASSERT_GE(buffer.size(), 100000u);
  ASSERT_LT(buffer.size(), payload.size());
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), payload.begin()));
}

// Records how a payload arrives: its pieces, and the restarts.
class RecordingSink : public update::PayloadSink {
 public:
  Bytes bytes;
  std::size_t largestPiece = 0;
  int restarts = 0;
  std::size_t stopAfter = SIZE_MAX;  // refuses the piece that passes this many bytes

  bool Write(const unsigned char* data, std::size_t size) override {
    if (bytes.size() + size > stopAfter) return false;
    bytes.insert(bytes.end(), data, data + size);
    largestPiece = std::max(largestPiece, size);
    return true;
  }
  bool Restart() override {
    bytes.clear();
    ++restarts;
    return true;
  }
};

TEST_F(PayloadLoaderTest, EachRefusalSaysWhatIsWrong) {
  const std::string two = Bzip2(Pattern(10));
  std::string cut = Bzip2(Noise(300000), 1);
  cut.resize(cut.size() - 20);
  std::string damaged = Bzip2(Noise(300000), 1);
  damaged[damaged.size() / 2] ^= 0x10;  // inside the second of three blocks
  struct Case {
    std::string content;
    std::string failure;
  };
  const std::vector<Case> cases = {
      {"this is not a bzip2 stream at all", "not a bzip2 stream"},
      {"", "not a bzip2 stream"},
      {two + "garbage", "data after the bzip2 stream"},
      {two + std::string(1, '\0'), "data after the bzip2 stream"},
      {cut, "a truncated bzip2 stream"},
      {two + "BZh", "a truncated bzip2 stream"},
      {damaged, "damaged bzip2 data"},
  };
  PayloadLoader loader;
  loader.setReadBzip2(true);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    RecordingSink sink;
    const update::PayloadResult result =
        loader.decodeFile(file("case" + std::to_string(i), cases[i].content), sink);
    EXPECT_EQ(result.kind, update::PayloadResult::Kind::kUnreadable) << i;
    EXPECT_EQ(result.failure, cases[i].failure) << i;
  }
  RecordingSink sink;
  EXPECT_EQ(loader.decodeFile(dir_.path(), sink).failure, "cannot be opened: Is a directory");
  EXPECT_EQ(loader.decodeFile(dir_.Join("missing"), sink).failure,
            "cannot be opened: No such file or directory");
}

TEST_F(PayloadLoaderTest, PayloadsArriveInBoundedPiecesAndADeclinedStreamStartsOver) {
  // A run of one byte decodes fifty-fold from one block; noise spans blocks.
  const Bytes run(8 << 20, 'r');
  const Bytes noise = Noise(250000);
  Bytes both = run;
  both.insert(both.end(), noise.begin(), noise.end());
  const std::string path = file("pieces.bz2", Bzip2(run) + Bzip2(noise, 1));
  for (bool invert : {false, true}) {
    PayloadLoader loader;
    loader.setReadBzip2(true);
    loader.setInvertBytes(invert);
    RecordingSink sink;
    EXPECT_TRUE(loader.decodeFile(path, sink).ok());
    EXPECT_EQ(sink.bytes, invert ? Complement(both) : both);
    EXPECT_LE(sink.largestPiece, (std::size_t{64} << 10) + 255);
    EXPECT_EQ(sink.restarts, 0);

    // A damaged last block is met after the others went out: the sink
    // starts over, and the library finds the damage.
    std::string damaged = Bzip2(noise, 1);
    damaged[damaged.size() - 100] ^= 0x01;
    RecordingSink restarted;
    EXPECT_FALSE(loader.decodeFile(file("damaged.bz2", damaged), restarted).ok());
    EXPECT_EQ(restarted.restarts, 1);

    // A sink that refuses a piece stops the decoding.
    RecordingSink stopping;
    stopping.stopAfter = 1 << 20;
    EXPECT_EQ(loader.decodeFile(path, stopping).kind, update::PayloadResult::Kind::kStopped);
  }
  // Plain payloads arrive in pieces too.
  const std::string plain = file("plain.bin", AsString(noise));
  PayloadLoader loader;
  RecordingSink sink;
  EXPECT_TRUE(loader.decodeFile(plain, sink).ok());
  EXPECT_EQ(sink.bytes, noise);
  EXPECT_LE(sink.largestPiece, std::size_t{256} << 10);
  std::unique_ptr<update::PayloadReader> reader = loader.openPlain(plain);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->size(), noise.size());
  Bytes first(1000);
  ASSERT_TRUE(reader->Read(first.data(), first.size()));
  EXPECT_TRUE(std::equal(first.begin(), first.end(), noise.begin()));
  Bytes rest(noise.size() - 1000 + 1);  // one byte more than there is
  EXPECT_FALSE(reader->Read(rest.data(), rest.size()));
  EXPECT_NE(reader->failure().find("shorter"), std::string::npos);
  loader.setReadBzip2(true);
  EXPECT_EQ(loader.openPlain(plain), nullptr);  // a bzip2 payload's size is not known first
}

}  // namespace
}  // namespace launcher
