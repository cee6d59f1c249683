// Payload encoding with the bzip2 library's streaming interface, so that a
// file of any size takes the same memory: one input piece, one output piece
// and the compressor's own state.
#include "mkupdate/payload_writer.h"

#include <bzlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

namespace mkupdate {

namespace {

using platform::Status;

constexpr std::size_t kPieceBytes = 256 * 1024;
constexpr int kBlockSize100k = 9;  // level 9, as the bundled update was made

Status WriteAll(int fd, const unsigned char* data, std::size_t length, const std::string& path) {
  while (length > 0) {
    const ssize_t n = write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Status::FromErrno(n < 0 ? errno : ENOSPC, path);
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return Status::Ok();
}

// The compressor's state, released however the payload ends.
class Compressor {
 public:
  Compressor() : ready_(BZ2_bzCompressInit(&stream_, kBlockSize100k, 0, 0) == BZ_OK) {}
  ~Compressor() {
    if (ready_) BZ2_bzCompressEnd(&stream_);
  }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;
  bool ready() const { return ready_; }

  // Feeds data (or, with finish, ends the stream) and hands every piece of
  // output to sink.
  template <typename Sink>
  Status Run(const unsigned char* data, std::size_t length, bool finish,
             std::vector<unsigned char>& out, const std::string& path, Sink sink) {
    // The library takes a call that can make no progress as a misuse.
    if (!finish && length == 0) return Status::Ok();
    stream_.next_in = const_cast<char*>(reinterpret_cast<const char*>(data));
    stream_.avail_in = static_cast<unsigned>(length);
    while (true) {
      stream_.next_out = reinterpret_cast<char*>(out.data());
      stream_.avail_out = static_cast<unsigned>(out.size());
      const int result = BZ2_bzCompress(&stream_, finish ? BZ_FINISH : BZ_RUN);
      const bool failed =
          finish ? (result != BZ_FINISH_OK && result != BZ_STREAM_END) : result != BZ_RUN_OK;
      if (failed) {
        return Status::Error(Status::Code::kIoError, path,
                             "cannot be compressed (bzip2 error " + std::to_string(result) + ")");
      }
      Status status = sink(out.data(), out.size() - stream_.avail_out);
      if (!status.ok()) return status;
      if (finish ? result == BZ_STREAM_END : stream_.avail_in == 0) return Status::Ok();
    }
  }

 private:
  bz_stream stream_{};
  bool ready_;
};

}  // namespace

void InvertBytes(unsigned char* data, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) data[i] = static_cast<unsigned char>(~data[i]);
}

PayloadWriter::PayloadWriter(OutDir* out, bool invert, bool compress, const std::atomic<bool>* stop)
    : out_(out), invert_(invert), compress_(compress), stop_(stop) {}

Status PayloadWriter::Write(EntrySource& source, const std::string& shownSource, std::uint64_t size,
                            const std::string& relative, std::uint64_t* written) {
  const std::string scratch = out_->ScratchPath();
  const int fd = open(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return Status::FromErrno(errno, scratch);
  std::uint64_t payload = 0;
  Status status = Encode(source, shownSource, size, fd, scratch, &payload);
  if (close(fd) != 0 && status.ok()) status = Status::FromErrno(errno, scratch);
  const std::string target = out_->path() + "/" + relative;
  if (status.ok()) status = out_->MakeParents(relative);
  if (status.ok() && rename(scratch.c_str(), target.c_str()) != 0) {
    status = Status::FromErrno(errno, target);
  }
  if (!status.ok()) {
    unlink(scratch.c_str());
    return status;
  }
  *written += payload;
  return Status::Ok();
}

Status PayloadWriter::Encode(EntrySource& source, const std::string& shownSource,
                             std::uint64_t size, int fd, const std::string& scratch,
                             std::uint64_t* written) {
  input_.resize(kPieceBytes);
  auto sink = [&](const unsigned char* data, std::size_t length) {
    *written += length;
    return WriteAll(fd, data, length, scratch);
  };
  std::unique_ptr<Compressor> compressor;
  if (compress_) {
    compressor = std::make_unique<Compressor>();
    if (!compressor->ready()) {
      return Status::Error(Status::Code::kIoError, shownSource, "no memory for the compressor");
    }
    output_.resize(kPieceBytes);
  }
  std::uint64_t done = 0;
  while (true) {
    if (stop_->load(std::memory_order_relaxed)) {
      return Status::Error(Status::Code::kInvalid, shownSource, "interrupted");
    }
    std::size_t got = 0;
    Status status = source.ReadFull(input_.data(), input_.size(), &got);
    if (!status.ok()) return status;
    done += got;
    if (done > size || (got < input_.size() && done != size)) {
      return Status::Error(Status::Code::kInvalid, shownSource, "changed while it was read");
    }
    if (invert_) InvertBytes(input_.data(), got);
    if (compress_) {
      status = compressor->Run(input_.data(), got, false, output_, scratch, sink);
    } else {
      status = sink(input_.data(), got);
    }
    if (!status.ok()) return status;
    if (got < input_.size()) break;
  }
  if (compress_) return compressor->Run(nullptr, 0, true, output_, scratch, sink);
  return Status::Ok();
}

}  // namespace mkupdate
