// Times one operation in milliseconds and formats its "Cost Time" line.
#ifndef PKFS_SCOPE_TIMER_H_
#define PKFS_SCOPE_TIMER_H_

#include <cstdint>
#include <string>

namespace pkfs {

class ScopeTimer {
 public:
  explicit ScopeTimer(std::string name);
  ~ScopeTimer() = default;
  ScopeTimer(const ScopeTimer&) = delete;
  ScopeTimer& operator=(const ScopeTimer&) = delete;

  // Returns "%04d/%02d/%02d %d:%d:%d <name> <text> Cost Time is <ms>\n" with
  // the local date and time; writes it to standard output when print is true.
  std::string Report(const std::string& text, bool print);

  const std::string& name() const { return name_; }

 private:
  std::uint32_t start_;
  std::uint32_t elapsed_ = 0;
  std::string name_;
};

}  // namespace pkfs

#endif  // PKFS_SCOPE_TIMER_H_
