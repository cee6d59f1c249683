// Helpers shared by the test suites: scratch directories and running the
// built program.
#ifndef MAROVETIN_TESTS_SUPPORT_TEST_SUPPORT_H_
#define MAROVETIN_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <cstddef>
#include <string>
#include <vector>

#ifdef _WIN32
#include <cstdlib>
// The POSIX environment calls that the tests use, over the C runtime's own.
inline int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
// An empty value removes the variable.
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
#endif

namespace testing_support {

// A fresh directory below the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative.
  std::string Join(const std::string& relative) const;

 private:
  std::string path_;
};

// Makes the process's current directory dir for the object's lifetime.
class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const std::string& dir);
  ~ScopedCurrentDirectory();

 private:
  std::string previous_;
};

// Whole-file helpers; ReadFile returns an empty string for a missing file.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);  // creates parents
void MakeDirs(const std::string& path);

// plain compressed by the bzip2 library into one stream.
std::string Bzip2(const std::string& plain, int blockSize100k = 9);

// The descriptors this process has open, as the kernel lists them in
// /proc/self/fd (Linux; under wine that lists wine's own).
std::size_t OpenDescriptorCount();

struct RunResult {
  int exitStatus = -1;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs program with arguments (argv[1..]) in directory, with extra
// environment entries ("NAME=value"; on POSIX systems "NAME" alone unsets),
// and collects its output. MAROVETIN_NO_WINDOW is set unless an entry says
// otherwise.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& directory,
                     const std::vector<std::string>& environment = {});

// The built updater, the built pkfs tool and the source tree.
std::string MarovetinBinary();
// The same program built with the fault plan of MAROVETIN_FAULT_PLAN
// (fault_plan.h), which the shipped one ignores.
std::string MarovetinUnderFaultsBinary();
std::string PkfsBinary();
std::string SourceDir();

}  // namespace testing_support

#endif  // MAROVETIN_TESTS_SUPPORT_TEST_SUPPORT_H_
