// Times one operation in milliseconds and formats its "Cost Time" line.
#ifndef PKFS_SCOPE_TIMER_H_
#define PKFS_SCOPE_TIMER_H_

#include <cstdint>
#include <string>

namespace pkfs {

class CFSManager;

class ScopeTimer {
 public:
  explicit ScopeTimer(std::string name);
  ~ScopeTimer() = default;
  ScopeTimer(const ScopeTimer&) = delete;
  ScopeTimer& operator=(const ScopeTimer&) = delete;

  // Formats the line (FormatLine), hands it to output's sink and returns it.
  // Without output nothing would be seen, so only the elapsed time is taken
  // and the result is empty.
  std::string Report(const std::string& text, const CFSManager* output);

  // "%04d/%02d/%02d %d:%d:%d <name> <text> Cost Time is <ms>\n" with the local
  // date and time and the milliseconds since construction.
  std::string FormatLine(const std::string& text);

  const std::string& name() const { return name_; }
  std::uint32_t elapsed() const { return elapsed_; }

 private:
  std::uint32_t start_;
  std::uint32_t elapsed_ = 0;
  std::string name_;
};

}  // namespace pkfs

#endif  // PKFS_SCOPE_TIMER_H_
