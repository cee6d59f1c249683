#include "platform/status.h"

#include <cstring>

namespace platform {

std::string Status::Reason() const {
  if (ok()) return "OK";
  if (!message_.empty()) return message_;
  if (errno_ != 0) return std::strerror(errno_);
  return "unknown error";
}

std::string Status::ToString() const {
  if (ok()) return "OK";
  if (context_.empty()) return Reason();
  return context_ + ": " + Reason();
}

}  // namespace platform
