#include "launcher/payload_loader.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "launcher/byte_inversion.h"
#include "launcher/bzip2_decoder.h"
#include "bzip2_library_stream.h"
#include "platform/cpu_features.h"
#include "platform/file_identity.h"
#include "platform/env.h"

namespace launcher {

PayloadLoader* thePayloadLoader = nullptr;

// A payload file opened for reading from its start, closed with the object.
// Reads remember the errno of a failure.
class PayloadFile {
 public:
  PayloadFile(platform::Env* env, const char* path) {
    const platform::Status opened = env->OpenSequentialFile(path, &file_, &stamp_);
    if (!opened.ok()) openError_ = opened.error() != 0 ? opened.error() : EIO;
  }
  PayloadFile(const PayloadFile&) = delete;
  PayloadFile& operator=(const PayloadFile&) = delete;

  bool opened() const { return file_ != nullptr; }
  int openError() const { return openError_; }
  // The file as it was opened (exists false when it did not open).
  const platform::FileStamp& stamp() const { return stamp_; }

  // Up to capacity bytes, in one read where the system allows: the count
  // (short only at the end), 0 at the end, -1 on a read error.
  long Read(unsigned char* buffer, std::size_t capacity) {
    std::size_t got = 0;
    const platform::Status read = file_->ReadSome(buffer, capacity, &got);
    if (!read.ok()) {
      readError_ = read.error() != 0 ? read.error() : EIO;
      return -1;
    }
    return static_cast<long>(got);
  }
  bool Rewind() {
    const platform::Status rewound = file_->Rewind();
    if (!rewound.ok()) readError_ = rewound.error() != 0 ? rewound.error() : EIO;
    return rewound.ok();
  }

  int readError() const { return readError_; }

 private:
  platform::FileStamp stamp_;
  std::unique_ptr<platform::SequentialFile> file_;
  int openError_ = 0;
  int readError_ = 0;
};

namespace {

// Plain payloads are read, and inverted, in pieces of this size.
constexpr std::size_t kPlainPieceBytes = 256 * 1024;

std::string CannotBeReadText(int error) {
  return std::string("cannot be read: ") + std::strerror(error != 0 ? error : EIO);
}

update::PayloadResult CannotBeRead(int error) {
  return update::PayloadResult::Unreadable(CannotBeReadText(error));
}

}  // namespace

ProcessorInfo ProcessorInfo::Probe() {
  ProcessorInfo info;
  info.hasMmx = platform::ProcessorHasMmx();
  return info;
}

PayloadLoader::PayloadLoader() : processorInfo_(ProcessorInfo::Probe()) {}

PayloadLoader::PayloadLoader(ProcessorInfo info) : processorInfo_(info) {}

namespace {

// A plain payload read in order, inverted on the way when "-de" is set.
class PlainPayloadReader : public update::PayloadReader {
 public:
  PlainPayloadReader(std::unique_ptr<PayloadFile> file, std::uint64_t size,
                     const PayloadLoader& loader)
      : file_(std::move(file)), size_(size), loader_(loader) {}

  std::uint64_t size() const override { return size_; }
  bool Read(unsigned char* buffer, std::size_t length) override {
    for (std::size_t done = 0; done < length;) {
      const long got = file_->Read(buffer + done, length - done);
      if (got < 0) {
        failure_ = CannotBeReadText(file_->readError());
        return false;
      }
      if (got == 0) {
        failure_ = "cannot be read: it became shorter while it was read";
        return false;
      }
      done += static_cast<std::size_t>(got);
    }
    if (loader_.invertBytes()) loader_.invertBuffer(buffer, length);
    return true;
  }
  std::string failure() const override { return failure_; }

 private:
  std::unique_ptr<PayloadFile> file_;
  const std::uint64_t size_;
  const PayloadLoader& loader_;
  std::string failure_;
};

}  // namespace

std::unique_ptr<update::PayloadReader> PayloadLoader::openPlain(const std::string& path) const {
  if (readBzip2_) return nullptr;
  // The size of the very file opened (the open refuses a directory): a file
  // that changes size afterwards reads short (and fails) or has bytes past
  // the size left out.
  auto file = std::make_unique<PayloadFile>(env_, path.c_str());
  if (!file->opened()) return nullptr;
  const platform::FileStamp& stamp = file->stamp();
  if (!stamp.exists || stamp.directory || stamp.size < 0) return nullptr;
  const auto size = static_cast<std::uint64_t>(stamp.size);
  return std::make_unique<PlainPayloadReader>(std::move(file), size, *this);
}

update::PayloadResult PayloadLoader::decodeFile(const char* path,
                                                update::PayloadSink& sink) const {
  if (path == nullptr) return update::PayloadResult::Unreadable("cannot be read: no path");
  // OpenFile refuses a directory, which has no bytes to give.
  PayloadFile file(env_, path);
  if (!file.opened()) {
    return update::PayloadResult::Unreadable(
        std::string("cannot be opened: ") +
        std::strerror(file.openError() != 0 ? file.openError() : ENOENT));
  }
  update::PayloadResult result = readBzip2_ ? decodeBzip2(file, sink) : decodePlain(file, sink);
  result.opened = file.stamp();
  return result;
}

int PayloadLoader::loadFile(const char* path, std::vector<unsigned char>& buffer) const {
  update::MemorySink sink(buffer);
  if (!decodeFile(path, sink).ok()) {
    // A failed bzip2 read leaves what was decoded before the error as the
    // stream gave it; the pieces were inverted on their way in, so they are
    // turned back.
    if (readBzip2_ && invertBytes_) invertBuffer(buffer.data(), buffer.size());
    return -1;
  }
  if (readBzip2_ || invertBytes_) return 0;
  // The result of a plain read is the file's size as a signed 32-bit number.
  if (buffer.size() > INT_MAX) return -1;
  return static_cast<int>(buffer.size());
}

void PayloadLoader::invertBuffer(unsigned char* start, std::size_t length) const {
  if (processorInfo_.hasMmx) {
    InvertBytesInBlocks(start, length);
  } else {
    InvertBytesOneByOne(start, length);
  }
}

update::PayloadResult PayloadLoader::decodeBzip2(PayloadFile& file,
                                                 update::PayloadSink& sink) const {
  // Inverted as they come, a piece at a time.
  std::vector<unsigned char> piece;
  const Bzip2Output output = [&](const unsigned char* data, std::size_t size) {
    if (!invertBytes_) return sink.Write(data, size);
    piece.assign(data, data + size);
    invertBuffer(piece.data(), piece.size());
    return sink.Write(piece.data(), piece.size());
  };
  const Bzip2Input input = [&file](unsigned char* buffer, std::size_t capacity) {
    return file.Read(buffer, capacity);
  };
  // The fast decoder takes the payloads that standard encoders write; what
  // it leaves, damaged files above all, the library reads from the start
  // and decides on.
  switch (DecodeBzip2Piecewise(input, output)) {
    case FastBzip2Result::kDecoded:
      return update::PayloadResult::Decoded();
    case FastBzip2Result::kStopped:
      return update::PayloadResult::Stopped();
    case FastBzip2Result::kReadFailed:
      return CannotBeRead(file.readError());
    case FastBzip2Result::kDeclined:
      break;
  }
  if (!file.Rewind()) return CannotBeRead(file.readError());
  if (!sink.Restart()) return update::PayloadResult::Stopped();
  const LibraryDecode decoded = DecodeWithBzip2Library(input, output);
  switch (decoded) {
    case LibraryDecode::kDecoded:
      return update::PayloadResult::Decoded();
    case LibraryDecode::kStopped:
      return update::PayloadResult::Stopped();
    case LibraryDecode::kReadFailed:
      return CannotBeRead(file.readError());
    default:
      return update::PayloadResult::Unreadable(DescribeLibraryDecode(decoded));
  }
}

update::PayloadResult PayloadLoader::decodePlain(PayloadFile& file,
                                                 update::PayloadSink& sink) const {
  std::unique_ptr<unsigned char[]> piece(new unsigned char[kPlainPieceBytes]);
  for (;;) {
    const long got = file.Read(piece.get(), kPlainPieceBytes);
    if (got < 0) return CannotBeRead(file.readError());
    if (got == 0) return update::PayloadResult::Decoded();
    const auto size = static_cast<std::size_t>(got);
    if (invertBytes_) invertBuffer(piece.get(), size);
    if (!sink.Write(piece.get(), size)) return update::PayloadResult::Stopped();
    // A read comes back short only at the end of the file (a failure is -1):
    // no further read is needed to learn that nothing follows.
    if (size < kPlainPieceBytes) return update::PayloadResult::Decoded();
  }
}

}  // namespace launcher
