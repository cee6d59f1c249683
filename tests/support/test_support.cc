#include "test_support.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <bzlib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace testing_support {

namespace fs = std::filesystem;

#ifdef _WIN32
TempDir::TempDir() {
  // No mkdtemp: try fresh names until one can be created.
  const fs::path base = fs::temp_directory_path();
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string name = "marovetin-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                             std::to_string(::GetTickCount()) + "-" + std::to_string(++counter);
    if (::CreateDirectoryA((base / name).string().c_str(), nullptr)) {
      path_ = (base / name).generic_string();
      return;
    }
  }
  std::abort();
}
#else
TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "marovetin-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) std::abort();
  path_ = buffer.data();
}
#endif

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
  std::error_code ignored;
  return fs::exists(path, ignored);
}

void MakeDirs(const std::string& path) {
  std::error_code ignored;
  fs::create_directories(path, ignored);
}

std::string Bzip2(const std::string& plain, int blockSize100k) {
  unsigned int size = static_cast<unsigned int>(plain.size() + plain.size() / 100 + 1024);
  std::string packed(size, '\0');
  std::string source = plain;
  char none = 0;  // the library wants a buffer even for no bytes
  const int status =
      BZ2_bzBuffToBuffCompress(&packed[0], &size, source.empty() ? &none : &source[0],
                               static_cast<unsigned int>(source.size()), blockSize100k, 0, 0);
  EXPECT_EQ(status, BZ_OK);
  packed.resize(size);
  return packed;
}

std::size_t OpenDescriptorCount() {
  std::size_t count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    static_cast<void>(entry);
    ++count;
  }
  return count;
}

void WriteFile(const std::string& path, const std::string& content) {
  fs::path p(path);
  if (p.has_parent_path()) MakeDirs(p.parent_path().string());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

#ifdef _WIN32
namespace {

// One argument as the C runtime's command-line parser reads it back.
std::string Quote(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, '\\');
  quoted.push_back('"');
  return quoted;
}

// This process's environment with entries ("NAME=value") added or replaced,
// as the double-NUL-terminated block CreateProcess takes.
std::string EnvironmentBlock(std::vector<std::string> extra) {
  // Nobody is there to press OK in a message box.
  extra.push_back("MAROVETIN_NO_WINDOW=1");
  auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=', 1)); };
  std::vector<std::string> entries;
  char* strings = ::GetEnvironmentStringsA();
  for (const char* p = strings; p != nullptr && *p != '\0'; p += std::strlen(p) + 1) {
    std::string entry = p;
    bool replaced = false;
    for (const std::string& e : extra) replaced = replaced || nameOf(e) == nameOf(entry);
    if (!replaced) entries.push_back(entry);
  }
  if (strings != nullptr) ::FreeEnvironmentStringsA(strings);
  entries.insert(entries.end(), extra.begin(), extra.end());
  std::string block;
  for (const std::string& e : entries) block += e + '\0';
  return block + '\0';
}

HANDLE Inheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& directory, const std::vector<std::string>& environment) {
  RunResult result;
  TempDir capture;
  const std::string outPath = capture.Join("out"), errPath = capture.Join("err");
  HANDLE in = Inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
  HANDLE out = Inheritable(outPath, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = Inheritable(errPath, GENERIC_WRITE, CREATE_ALWAYS);
  std::string commandLine = Quote(program);
  for (const std::string& a : arguments) commandLine += " " + Quote(a);
  std::string block = EnvironmentBlock(environment);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process = {};
  const bool started = ::CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        &block[0], directory.c_str(), &startup, &process) != 0;
  for (HANDLE h : {in, out, err}) {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
  if (!started) return result;
  if (::WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.hProcess, 255);
    ::WaitForSingleObject(process.hProcess, INFINITE);
  } else {
    DWORD code = 0;
    if (::GetExitCodeProcess(process.hProcess, &code)) result.exitStatus = static_cast<int>(code);
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

#else
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
    // Nobody is there to press OK in a message box; a test that wants one
    // unsets it with the entry "MAROVETIN_NO_WINDOW" (a name alone unsets).
    ::putenv(const_cast<char*>("MAROVETIN_NO_WINDOW=1"));
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

#endif

std::string MarovetinBinary() { return MAROVETIN_BINARY; }
std::string MarovetinUnderFaultsBinary() { return MAROVETIN_UNDER_FAULTS_BINARY; }
std::string PkfsBinary() { return PKFS_BINARY; }
std::string SourceDir() { return MAROVETIN_SOURCE_DIR; }

}  // namespace testing_support
