// The outcome of a platform call: success, or what failed (a kind, the
// operating system's errno when it has one, and the file or operation it
// concerns), so that a caller can say why and not only that.
#ifndef MAROVETIN_PLATFORM_STATUS_H_
#define MAROVETIN_PLATFORM_STATUS_H_

#include <string>
#include <utility>

namespace platform {

class Status {
 public:
  enum class Code {
    kOk,
    kIoError,     // the operating system refused; errno says why
    kCorrupt,     // a file's contents break its format
    kNotFound,    // a file or entry that must exist does not
    kBusy,        // another process holds what is needed (a lock)
    kInvalid,     // the caller asked for something that cannot be done
  };

  Status() = default;  // success
  static Status Ok() { return Status(); }
  // context names the file or the operation, e.g. "DATA.pak".
  static Status FromErrno(int error, std::string context) {
    return Status(Code::kIoError, error, std::move(context), std::string());
  }
  static Status Error(Code code, std::string context, std::string message) {
    return Status(code, 0, std::move(context), std::move(message));
  }

  bool ok() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  int error() const { return errno_; }
  const std::string& context() const { return context_; }

  // Why, without the context: the errno text ("No space left on device") or
  // the message given.
  std::string Reason() const;
  // "context: reason", or "OK".
  std::string ToString() const;
  // The same outcome about another file or operation (a volume's name in
  // place of the path it was opened by).
  Status About(std::string context) const {
    return Status(code_, errno_, std::move(context), message_);
  }

 private:
  Status(Code code, int error, std::string context, std::string message)
      : code_(code), errno_(error), context_(std::move(context)), message_(std::move(message)) {}

  Code code_ = Code::kOk;
  int errno_ = 0;
  std::string context_;
  std::string message_;
};

}  // namespace platform

#endif  // MAROVETIN_PLATFORM_STATUS_H_
