// The optional run log: one time-stamped line per noteworthy event, appended
// to a plain file named on the command line ("-log").
#ifndef MAROVETIN_LAUNCHER_RUN_LOG_H_
#define MAROVETIN_LAUNCHER_RUN_LOG_H_

#include <string>

#include "platform/env.h"
#include "platform/clock.h"

namespace launcher {

// One log line: "%d-%d-%d\t%d:%d:%d\t%s\n" from the date, the time and the
// text (as "%s" would print it: up to its first NUL byte).
std::string FormatLogLine(const platform::LocalTime& time, const std::string& text);

class RunLog {
 public:
  // The log file's name as given; empty switches the log off.
  void setFileName(const std::string& name) { fileName_ = name; }
  const std::string& fileName() const { return fileName_; }

  // Appends one line with the current local time. The file is opened ("ab+",
  // so existing content stays) and closed again for every line. When it cannot
  // be opened or written the line is dropped, and the first such failure of
  // the run is reported on standard error.
  void write(const std::string& text);

  // Back to the state after construction: log off, nothing reported.
  void reset();

  // What the log file is opened through (the system's unless set).
  void setEnv(platform::Env* env) { env_ = env; }

 private:
  platform::Env* env_ = platform::Env::Default();
  std::string fileName_;
  bool failureReported_ = false;
};

}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_RUN_LOG_H_
