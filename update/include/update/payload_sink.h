// Where a payload's decoded bytes go: in order, a piece at a time, so that a
// file of any size is decoded in bounded memory.
#ifndef UPDATE_PAYLOAD_SINK_H_
#define UPDATE_PAYLOAD_SINK_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_identity.h"

namespace update {

class PayloadSink {
 public:
  virtual ~PayloadSink() = default;
  // Takes the next size bytes. False stops the decoding; the sink knows why.
  virtual bool Write(const unsigned char* data, std::size_t size) = 0;
  // Forgets every byte written so far: the decoding starts over from the
  // payload's first byte. False when the sink cannot.
  virtual bool Restart() = 0;
};

// What decoding a payload came to.
struct PayloadResult {
  enum class Kind {
    kDecoded,
    kUnreadable,  // the file did not open, could not be read, or is no valid payload
    kStopped,     // the sink refused a piece
  };
  Kind kind = Kind::kDecoded;
  // For kUnreadable, what is wrong: "not a bzip2 stream", "a truncated bzip2
  // stream", "data after the bzip2 stream", "cannot be read: Input/output error".
  std::string failure;
  // The file as it was when opened for this decode, before its first byte
  // was read (exists false when it did not open); filled in by hosts whose
  // stampsPayloads() is true.
  platform::FileStamp opened;

  bool ok() const { return kind == Kind::kDecoded; }
  static PayloadResult Decoded() { return PayloadResult(); }
  static PayloadResult Unreadable(std::string why) {
    PayloadResult result;
    result.kind = Kind::kUnreadable;
    result.failure = std::move(why);
    return result;
  }
  static PayloadResult Stopped() {
    PayloadResult result;
    result.kind = Kind::kStopped;
    return result;
  }
};

// A payload whose decoded bytes are read in order without a decoder (a plain
// payload, inverted or not), so that its size is known before its bytes.
class PayloadReader {
 public:
  virtual ~PayloadReader() = default;
  // The decoded size.
  virtual std::uint64_t size() const = 0;
  // Fills buffer with the next length bytes; false when they cannot be had
  // (failure() then says why: a read error, or a file that changed size).
  virtual bool Read(unsigned char* buffer, std::size_t length) = 0;
  virtual std::string failure() const = 0;
};

// A sink that keeps the bytes in memory, refusing to grow past a limit.
class MemorySink : public PayloadSink {
 public:
  explicit MemorySink(std::vector<unsigned char>& bytes, std::uint64_t limit = UINT64_MAX)
      : bytes_(bytes), limit_(limit) {}
  bool Write(const unsigned char* data, std::size_t size) override {
    if (size > limit_ - bytes_.size()) {
      overLimit_ = true;
      return false;
    }
    bytes_.insert(bytes_.end(), data, data + size);
    return true;
  }
  bool Restart() override {
    bytes_.clear();
    return true;
  }
  // The payload decodes to more than the limit.
  bool overLimit() const { return overLimit_; }

 private:
  std::vector<unsigned char>& bytes_;
  const std::uint64_t limit_;
  bool overLimit_ = false;
};

}  // namespace update

#endif  // UPDATE_PAYLOAD_SINK_H_
