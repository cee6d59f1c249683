#include "test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace testing_support {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "marovetin-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) std::abort();
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Give back write permission first so that read-only test files go too.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

std::string TempDir::Join(const std::string& relative) const { return path_ + "/" + relative; }

ScopedCurrentDirectory::ScopedCurrentDirectory(const std::string& dir) {
  previous_ = fs::current_path().string();
  fs::current_path(dir);
}

ScopedCurrentDirectory::~ScopedCurrentDirectory() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

void MakeDirs(const std::string& path) {
  std::error_code ignored;
  fs::create_directories(path, ignored);
}

void WriteFile(const std::string& path, const std::string& content) {
  fs::path p(path);
  if (p.has_parent_path()) MakeDirs(p.parent_path().string());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

namespace {

std::string Slurp(int fd) {
  std::string text;
  char chunk[4096];
  ssize_t n;
  while ((n = ::read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(n));
  return text;
}

}  // namespace

RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& directory, const std::vector<std::string>& environment) {
  RunResult result;
  // Output goes to files rather than pipes so that a chatty child cannot
  // block on a full pipe while we wait for it.
  TempDir capture;
  std::string outPath = capture.Join("out"), errPath = capture.Join("err");
  pid_t pid = ::fork();
  if (pid < 0) return result;
  if (pid == 0) {
    if (::chdir(directory.c_str()) != 0) _exit(127);
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(err, 2);
    for (const std::string& entry : environment) ::putenv(::strdup(entry.c_str()));
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  int out = ::open(outPath.c_str(), O_RDONLY);
  int err = ::open(errPath.c_str(), O_RDONLY);
  if (out >= 0) {
    result.out = Slurp(out);
    ::close(out);
  }
  if (err >= 0) {
    result.err = Slurp(err);
    ::close(err);
  }
  return result;
}

std::string MarovetinBinary() { return MAROVETIN_BINARY; }
std::string PkfsBinary() { return PKFS_BINARY; }
std::string SourceDir() { return MAROVETIN_SOURCE_DIR; }

}  // namespace testing_support
