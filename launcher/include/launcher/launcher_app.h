// The application object: reads the options, prepares the paths, registers
// in the share file block and runs one of the utility modes or the update.
#ifndef MAROVETIN_LAUNCHER_LAUNCHER_APP_H_
#define MAROVETIN_LAUNCHER_LAUNCHER_APP_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "launcher/option_table.h"
#include "launcher/payload_loader.h"
#include "launcher/run_log.h"
#include "launcher/share_file_block.h"
#include "update/pack_volumes.h"
#include "update/update_host.h"
#include "update/update_run.h"

namespace launcher {

// The main pack volume's name unless "-sp" gives another.
using update::kDefaultPackName;
// Launcher copies removed from the current directory after every update run.
inline constexpr char kLauncherBackupName[] = "marovetin.bak";
inline constexpr char kLauncherStagedName[] = "marovetin.bin";

class LauncherApp : public update::UpdateHost {
 public:
  LauncherApp() = default;
  ~LauncherApp() override;
  LauncherApp(const LauncherApp&) = delete;
  LauncherApp& operator=(const LauncherApp&) = delete;

  // The start-up routine: does all of the launcher's work for this command
  // line and returns false, as there is no message loop to run afterwards.
  bool InitInstance(int argc, const char* const* argv);

  // The exit routine: destroys the payload loader and returns the process's
  // exit status.
  int ExitInstance();

  // Prints and normalises workPath, runs the update dialog (unless the work
  // path does not exist: nothing to apply), then removes the
  // launcher copies "marovetin.bak" and "marovetin.bin". Returns true.
  bool runUpdate();

  // What runUpdate runs between printing the work path and removing the
  // launcher copies: the update dialog unless another runner is set (the
  // command-line fuzzer runs start-up without touching an installation). Kept
  // across reset().
  using UpdateRunner = std::function<update::UpdateOutcome(update::UpdateHost&)>;
  void setUpdateRunner(UpdateRunner runner) { updateRunner_ = std::move(runner); }

  // Back to the state after construction (releases the share block and the
  // loader), so that one object can serve several runs in tests.
  void reset();

  // update::UpdateHost
  const std::string& workPath() const override { return workPath_; }
  const std::string& packName() const override { return packName_; }
  const std::string& currentDir() const override { return currentDir_; }
  bool checkVersion() const override { return commandLine_.given(Option::kCheckVersion); }
  bool deleteSources() const override { return commandLine_.given(Option::kDeleteSources); }
  void writeLog(const std::string& text) override { runLog_.write(text); }
  int loadFile(const std::string& path, std::vector<unsigned char>& buffer) override;
  update::PayloadResult decodeFile(const std::string& path, update::PayloadSink& sink) override;
  bool stampsPayloads() const override { return payloadLoader_ != nullptr; }
  std::unique_ptr<update::PayloadReader> openPlainPayload(const std::string& path) override;
  bool payloadsAsDelivered() const override;
  platform::Env* env() const override { return env_; }

  // What the run reaches every file through, from the next InitInstance on
  // (the system's unless set; it must outlive the runs).
  void setEnv(platform::Env* env) { env_ = env; }

  const CommandLine& commandLine() const { return commandLine_; }
  const std::string& logFileName() const { return runLog_.fileName(); }
  const ShareFileLink& shareFile() const { return shareFile_; }
  std::int32_t savedCounter() const { return savedCounter_; }
  PayloadLoader* payloadLoader() const { return payloadLoader_.get(); }
  const update::UpdateOutcome& updateOutcome() const { return updateOutcome_; }
  int exitStatus() const { return exitStatus_; }

 private:
  // Start-up once the arguments are known to be usable.
  void startUp();
  void openShareFile();
  void runBinaryToText();
  void runSetUpdateIndex();
  void runUpdateMode();

  platform::Env* env_ = platform::Env::Default();
  std::unique_ptr<PayloadLoader> payloadLoader_;
  CommandLine commandLine_;
  std::string workPath_;
  std::string packName_ = kDefaultPackName;
  std::string currentDir_;
  RunLog runLog_;
  ShareFileLink shareFile_;
  std::int32_t savedCounter_ = 0;
  update::UpdateOutcome updateOutcome_;
  bool nothingToApply_ = false;  // the work path "-sw" names does not exist
  UpdateRunner updateRunner_;
  int exitStatus_ = 0;
};

// The process's application object.
extern LauncherApp theApp;

// The whole program on theApp, every file reached through env: the start-up
// routine does all of the work, the exit routine gives the exit status.
int RunProgram(int argc, const char* const* argv, platform::Env* env);

}  // namespace launcher

#endif  // MAROVETIN_LAUNCHER_LAUNCHER_APP_H_
