// A payload decoded into a file, a piece at a time: the temporary of a loose
// file, or the scratch copy of a pack file whose size the store must know
// before its bytes.
#ifndef UPDATE_FILE_PAYLOAD_SINK_H_
#define UPDATE_FILE_PAYLOAD_SINK_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/env.h"
#include "platform/random_access_file.h"
#include "platform/status.h"
#include "update/payload_sink.h"

namespace update {
namespace internal {

class FilePayloadSink : public PayloadSink {
 public:
  // Creates path through env, or empties the file there; status() says why
  // not. Bytes past limit are counted but not written, so that the size of a
  // payload too large to keep is still learnt.
  FilePayloadSink(platform::Env* env, std::string path, std::uint64_t limit = UINT64_MAX);
  // Closes the file; it stays unless Remove was called.
  ~FilePayloadSink() override = default;
  FilePayloadSink(const FilePayloadSink&) = delete;
  FilePayloadSink& operator=(const FilePayloadSink&) = delete;

  // Pieces that are all zero bytes are not written: they stay holes, which
  // read as zeros, so that a payload's long runs of zeros take no disk.
  bool Write(const unsigned char* data, std::size_t size) override;
  // Starts the file anew (deleted and created again, so nothing of the
  // earlier attempt stays past its new end).
  bool Restart() override;

  // Gives the file its whole length when it ends in bytes left unwritten
  // (see Write). False when that write fails (status() says why).
  bool Finish();

  // Fills buffer with length bytes from offset of what was written.
  bool ReadAt(std::uint64_t offset, unsigned char* buffer, std::size_t length);
  // Closes and deletes the file.
  void Remove();
  // Closes the file.
  void Close() { file_.reset(); }

  // Why the file could not be made or written; OK otherwise.
  const platform::Status& status() const { return status_; }
  // The bytes handed over so far (written or only counted).
  std::uint64_t size() const { return size_; }
  bool overLimit() const { return size_ > limit_; }
  const std::string& path() const { return path_; }

 private:
  void Open();

  platform::Env* const env_;
  const std::string path_;
  const std::uint64_t limit_;
  std::unique_ptr<platform::RandomAccessFile> file_;
  platform::Status status_;
  std::uint64_t size_ = 0;
  std::uint64_t writtenEnd_ = 0;  // the end of the last piece written
};

}  // namespace internal
}  // namespace update

#endif  // UPDATE_FILE_PAYLOAD_SINK_H_
