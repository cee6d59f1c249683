#include "file_payload_sink.h"

#include <cerrno>
#include <utility>

#include "platform/zero_bytes.h"

namespace update {
namespace internal {

FilePayloadSink::FilePayloadSink(platform::Env* env, std::string path, std::uint64_t limit)
    : env_(env), path_(std::move(path)), limit_(limit) {
  Open();
}

void FilePayloadSink::Open() {
  status_ = env_->OpenFile(path_, platform::RandomAccessFile::Mode::kCreateReadWrite, &file_);
}

bool FilePayloadSink::Write(const unsigned char* data, std::size_t size) {
  if (file_ == nullptr) return false;
  const std::uint64_t end = size_ + size;
  if (end > limit_) {
    // Only counted: the payload is too large to keep, and its size is news.
    size_ = end;
    return true;
  }
  if (!platform::AllZeroBytes(data, size)) {
    status_ = file_->Write(size_, data, size);
    if (!status_.ok()) return false;
    writtenEnd_ = end;
  }
  size_ = end;
  return true;
}

bool FilePayloadSink::Finish() {
  if (file_ == nullptr) return false;
  if (writtenEnd_ >= size_ || overLimit()) return true;
  const unsigned char zero = 0;
  status_ = file_->Write(size_ - 1, &zero, 1);
  if (!status_.ok()) return false;
  writtenEnd_ = size_;
  return true;
}

bool FilePayloadSink::Restart() {
  file_.reset();
  env_->DeleteFile(path_);
  size_ = 0;
  writtenEnd_ = 0;
  status_ = platform::Status::Ok();
  Open();
  return file_ != nullptr;
}

bool FilePayloadSink::ReadAt(std::uint64_t offset, unsigned char* buffer, std::size_t length) {
  if (file_ == nullptr) return false;
  for (std::size_t done = 0; done < length;) {
    const long long got = file_->ReadAt(offset + done, buffer + done, length - done);
    if (got <= 0) {
      status_ = got < 0 ? platform::Status::FromErrno(errno != 0 ? errno : EIO, path_)
                        : platform::Status::Error(platform::Status::Code::kIoError, path_,
                                                  "ended before its bytes");
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
}

void FilePayloadSink::Remove() {
  file_.reset();
  env_->DeleteFile(path_);
}

}  // namespace internal
}  // namespace update
