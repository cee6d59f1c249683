// Stand-ins for the update dialog's collaborators: a host with plain payload
// reading, a pack store that keeps what it is given, and a progress view that
// records what the bar was sent; and the fixture that puts them around a
// temporary installation.
#ifndef MAROVETIN_TESTS_UPDATE_UPDATE_FAKES_H_
#define MAROVETIN_TESTS_UPDATE_UPDATE_FAKES_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "test_support.h"
#include "ui/progress_view.h"
#include "update/pack_store.h"
#include "update/update_dialog.h"
#include "update/update_host.h"

namespace update_testing {

class FakeHost : public update::UpdateHost {
 public:
  std::string work;
  std::string pack = "DATA.pak";
  std::string current;
  bool verify = false;
  bool removeSources = false;
  std::vector<std::string> logLines;
  std::set<std::string> unreadable;  // paths whose load fails
  std::vector<std::string> loaded;   // every path handed to loadFile
  platform::Env* files = platform::Env::Default();  // what the update reaches files through

  const std::string& workPath() const override { return work; }
  const std::string& packName() const override { return pack; }
  const std::string& currentDir() const override { return current; }
  bool checkVersion() const override { return verify; }
  bool deleteSources() const override { return removeSources; }
  void writeLog(const std::string& text) override { logLines.push_back(text); }
  platform::Env* env() const override { return files; }

  int loadFile(const std::string& path, std::vector<unsigned char>& buffer) override {
    {
      // Read-ahead workers load files side by side.
      std::lock_guard<std::mutex> guard(loadedMutex_);
      loaded.push_back(path);
    }
    if (unreadable.count(path) != 0) return -1;
    std::FILE* file = nullptr;
    if (!files->OpenStream(path, "rb", &file).ok()) return -1;
    unsigned char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
      buffer.insert(buffer.end(), chunk, chunk + n);
    }
    std::fclose(file);
    return static_cast<int>(buffer.size());
  }

 private:
  std::mutex loadedMutex_;
};

class FakePackStore : public update::PackStore {
 public:
  std::vector<std::string> mounts;
  std::map<std::string, std::string> stored;  // name as handed over -> bytes
  std::vector<std::string> order;             // names in the order stored
  std::set<std::string> failing;              // names whose store fails
  std::vector<std::size_t> batches;           // stores in each committed batch
  platform::Status commitResult;              // what every commit reports
  std::function<void()> onCommit;             // runs at each commit, before it reports
  std::size_t inBatch = 0;
  std::uint64_t largest = UINT32_MAX - 1;  // the most bytes one file may have
  pkfs::OutputSink sink;  // what the dialog installed for the library's lines

  std::uint64_t LargestFileSize() const override { return largest; }

  void SetOutputSink(pkfs::OutputSink given) override { sink = std::move(given); }
  void Mount(const std::string& packName) override { mounts.push_back(packName); }
  bool AddFile(const std::string& name, unsigned char* data, std::uint32_t length) override {
    order.push_back(name);
    if (failing.count(name) != 0) return false;
    stored[name] = std::string(reinterpret_cast<const char*>(data), length);
    ++inBatch;
    return true;
  }
  void BeginBatch() override { inBatch = 0; }
  platform::Status CommitBatch() override {
    if (onCommit) onCommit();
    batches.push_back(inBatch);
    return commitResult;
  }
};

struct BarMessage {
  std::uint32_t message;
  ui::WParam wParam;
  ui::LParam lParam;
};

class RecordingProgress : public ui::ProgressView {
 public:
  RecordingProgress() : ui::ProgressView("", Drawing::kNever) {}
  std::vector<BarMessage> sent;
  ui::LParam Send(std::uint32_t message, ui::WParam wParam, ui::LParam lParam) override {
    sent.push_back(BarMessage{message, wParam, lParam});
    return ui::ProgressView::Send(message, wParam, lParam);
  }
};

// The dialog's state as its number (what the run log and the state sequence
// are made of).
inline int StateNumber(const update::UpdateDialog& dialog) {
  return static_cast<int>(dialog.state());
}

// Pumps until the queue is empty or the quit message was taken; the states
// seen after each message are appended to states when given.
inline int PumpAll(update::UpdateDialog& dialog, std::vector<int>* states = nullptr) {
  int pumped = 0;
  while (!dialog.queue().empty() && !dialog.queue().ending() && pumped < 100000) {
    dialog.PumpMessage();
    ++pumped;
    if (states != nullptr) states->push_back(StateNumber(dialog));
  }
  return pumped;
}

// The messages waiting in the dialog's queue.
inline std::vector<std::uint32_t> Pending(update::UpdateDialog& dialog) {
  std::vector<std::uint32_t> ids;
  for (const ui::Message& m : dialog.queue().pending()) ids.push_back(m.message);
  return ids;
}

// Creates root/install with an empty work path "update" below it and returns
// the installation's path.
inline std::string PrepareInstallation(const testing_support::TempDir& root) {
  testing_support::MakeDirs(root.Join("install/update"));
  return root.Join("install");
}

// A temporary installation that is the current directory, with the work path
// "update" below it, and the fakes a dialog is built from.
class InstallationTest : public ::testing::Test {
 protected:
  InstallationTest() : cwd_(PrepareInstallation(root_)) {
    host_.work = work();
    host_.current = install();
  }

  std::string install() const { return root_.Join("install"); }
  std::string work() const { return root_.Join("install/update"); }
  std::string pak() const { return work() + "/Pak"; }

  // Runs the whole machine from its initialisation until the quit; standard
  // output goes to stdout_, standard error is returned.
  std::string Run(update::UpdateDialog& dialog) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    dialog.OnInitDialog();
    PumpAll(dialog);
    stdout_ = testing::internal::GetCapturedStdout();
    return testing::internal::GetCapturedStderr();
  }

  // Whether the run log was given exactly this text.
  bool Logged(const std::string& line) const {
    for (const std::string& l : host_.logLines) {
      if (l == line) return true;
    }
    return false;
  }

  testing_support::TempDir root_;
  testing_support::ScopedCurrentDirectory cwd_;
  FakeHost host_;
  FakePackStore store_;
  RecordingProgress progress_;
  std::string stdout_;
};

}  // namespace update_testing

#endif  // MAROVETIN_TESTS_UPDATE_UPDATE_FAKES_H_
