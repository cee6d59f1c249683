#include "launcher/launcher_app.h"

#include <cstdio>

#include "fileutil/file_util.h"
#include "launcher/command_line_checks.h"
#include "launcher/usage.h"
#include "launcher/utility_modes.h"
#include "platform/debug_output.h"
#include "platform/file_system.h"
#include "ui/quiet_run.h"

namespace launcher {

LauncherApp::~LauncherApp() {
  if (thePayloadLoader == payloadLoader_.get()) thePayloadLoader = nullptr;
}

bool LauncherApp::InitInstance(int argc, const char* const* argv) {
  // Every run starts from the defaults: nothing of an earlier run on this
  // object (its pack name, its log file, its hold on the block) carries over.
  reset();
  payloadLoader_ = std::make_unique<PayloadLoader>();
  payloadLoader_->setEnv(env_);
  thePayloadLoader = payloadLoader_.get();
  runLog_.setEnv(env_);

  // The program path alone: nothing is read, opened or logged.
  if (argc <= 1) return false;

  switch (FindInfoRequest(argc, argv)) {
    case InfoRequest::kHelp:
      std::fputs(HelpText().c_str(), stdout);
      return false;
    case InfoRequest::kVersion:
      std::fputs(VersionText().c_str(), stdout);
      return false;
    case InfoRequest::kNone:
      break;
  }

  const bool quiet = QuietRequested(argc, argv);
  if (quiet) platform::SilenceStandardOutput();
  // Nor a desktop window in place of the terminal bar.
  ui::SetQuietRun(quiet);
  commandLine_ = CommandLine::Parse(argc, argv);
  // Ignored as always, but named: a typo must not pass for an option.
  for (const std::string& unknown : UnknownArguments(commandLine_)) {
    std::fputs(UnknownArgumentMessage(unknown).c_str(), stderr);
  }
  // Refused before anything is touched: no share block, no log line, no file.
  if (std::optional<Option> missing = commandLine_.optionMissingValue()) {
    std::fputs(MissingValueMessage(*missing).c_str(), stderr);
    exitStatus_ = kExitUsage;
    return false;
  }
  const std::string here = platform::GetCurrentDirectory();
  const std::string packName = commandLine_.given(Option::kPackName)
                                   ? commandLine_.value(Option::kPackName)
                                   : std::string(kDefaultPackName);
  for (const std::string& refusal :
       {UnsafeWorkPathRefusal(commandLine_, here), UpdateIndexValueRefusal(commandLine_),
        PackPlaceRefusal(commandLine_, here, packName, env_)}) {
    if (refusal.empty()) continue;
    std::fputs(refusal.c_str(), stderr);
    exitStatus_ = kExitUsage;
    return false;
  }

  startUp();
  return false;
}

int LauncherApp::ExitInstance() {
  if (thePayloadLoader == payloadLoader_.get()) thePayloadLoader = nullptr;
  payloadLoader_.reset();
  return exitStatus_;
}

void LauncherApp::startUp() {
  fileutil::CurrentDirectory(currentDir_);
  payloadLoader_->setInvertBytes(commandLine_.given(Option::kInvertBytes));
  payloadLoader_->setReadBzip2(commandLine_.given(Option::kReadBzip2));

  workPath_ = currentDir_;
  if (commandLine_.given(Option::kWorkPath)) {
    workPath_ = currentDir_ + "/" + WorkPathValue(commandLine_, currentDir_);
  }
  if (commandLine_.given(Option::kPackName)) packName_ = commandLine_.value(Option::kPackName);
  if (commandLine_.given(Option::kLog)) runLog_.setFileName(commandLine_.value(Option::kLog));

  openShareFile();

  if (commandLine_.given(Option::kBinaryToText)) {
    runBinaryToText();
  } else if (commandLine_.given(Option::kSetUpdateIndex)) {
    runSetUpdateIndex();
  } else {
    runUpdateMode();
  }
}

void LauncherApp::openShareFile() {
  std::string error;
  switch (shareFile_.openOrCreate(&error, env_)) {
    case ShareFileLink::Attach::kOpened:
      writeLog("Open ShareFile!!!");
      break;
    case ShareFileLink::Attach::kCreated:
      writeLog("Create ShareFile!!!");
      break;
    case ShareFileLink::Attach::kFailed:
      // The run goes on without the block; nothing touches it afterwards.
      writeLog("ShareFile failed: " + error);
      std::fprintf(stderr, "marovetin: share file block unavailable (%s); running without it\n",
                   error.c_str());
      break;
  }
}

void LauncherApp::runBinaryToText() {
  const std::string& source = commandLine_.value(Option::kBinaryToText, 1);
  const std::string& target = commandLine_.value(Option::kBinaryToText, 2);
  std::size_t sourceBytes = 0;
  switch (ConvertBinaryToText(source, target, &sourceBytes, env_)) {
    case ConvertResult::kWritten:
      break;
    case ConvertResult::kSourceMissing:
      std::fprintf(stderr, "marovetin: -mbts: cannot open \"%s\" for reading; nothing written\n",
                   source.c_str());
      exitStatus_ = kExitFilesKeptBack;
      break;
    case ConvertResult::kSourceShort:
      std::fprintf(stderr,
                   "marovetin: -mbts: \"%s\" holds %zu bytes, fewer than the 4 of a number; "
                   "nothing written\n",
                   source.c_str(), sourceBytes);
      exitStatus_ = kExitFilesKeptBack;
      break;
    case ConvertResult::kTargetNotWritten:
      std::fprintf(stderr, "marovetin: -mbts: cannot write \"%s\"\n", target.c_str());
      exitStatus_ = kExitFilesKeptBack;
      break;
  }
}

void LauncherApp::runSetUpdateIndex() {
  // The start-up refused every value that is not an update index.
  std::uint32_t value = 0;
  if (!ParseUpdateIndex(commandLine_.value(Option::kSetUpdateIndex), &value)) return;
  std::string indexPath;
  if (!WriteUpdateIndex(currentDir_, value, &indexPath, env_)) {
    std::fprintf(stderr,
                 "marovetin: -sv: cannot write the update index \"%s\" (does its directory "
                 "exist?)\n",
                 indexPath.c_str());
    exitStatus_ = kExitFilesKeptBack;
  }
}

void LauncherApp::runUpdateMode() {
  const std::string missing = MissingWorkPathMessage(commandLine_, workPath_);
  if (!missing.empty()) std::fputs(missing.c_str(), stderr);
  nothingToApply_ = !missing.empty();
  RunUpdateHandover(shareFile_, &savedCounter_, [this] { runUpdate(); });
  if (updateOutcome_.packBusy) {
    exitStatus_ = kExitFilesKeptBack;
  } else if (updateOutcome_.refused) {
    exitStatus_ = kExitVersionRefused;
  } else if (updateOutcome_.keptBack > 0) {
    exitStatus_ = kExitFilesKeptBack;
  }
}

bool LauncherApp::runUpdate() {
  std::printf("%s\n", workPath_.c_str());
  fileutil::NormalizePath(workPath_);
  // Without a work path the dialog would only mount the pack, and create a
  // first volume where there was none.
  if (!nothingToApply_) {
    updateOutcome_ = updateRunner_ ? updateRunner_(*this) : update::RunUpdateDialog(*this);
  }
  std::fflush(stdout);

  // Leftover launcher copies; a missing file is the usual case and is ignored.
  for (const char* copy : {kLauncherBackupName, kLauncherStagedName}) {
    env_->SetAttributesNormal(copy);
    env_->DeleteFile(copy);
  }
  return true;
}

int LauncherApp::loadFile(const std::string& path, std::vector<unsigned char>& buffer) {
  return payloadLoader_ != nullptr ? payloadLoader_->loadFile(path, buffer) : -1;
}

update::PayloadResult LauncherApp::decodeFile(const std::string& path,
                                              update::PayloadSink& sink) {
  if (payloadLoader_ == nullptr) return update::PayloadResult::Unreadable("cannot be read");
  return payloadLoader_->decodeFile(path, sink);
}

std::unique_ptr<update::PayloadReader> LauncherApp::openPlainPayload(const std::string& path) {
  return payloadLoader_ != nullptr ? payloadLoader_->openPlain(path) : nullptr;
}

bool LauncherApp::payloadsAsDelivered() const {
  return payloadLoader_ != nullptr && !payloadLoader_->readBzip2() &&
         !payloadLoader_->invertBytes();
}

void LauncherApp::reset() {
  if (thePayloadLoader == payloadLoader_.get()) thePayloadLoader = nullptr;
  payloadLoader_.reset();
  commandLine_ = CommandLine();
  workPath_.clear();
  packName_ = kDefaultPackName;
  currentDir_.clear();
  runLog_.reset();
  shareFile_.release();
  savedCounter_ = 0;
  updateOutcome_ = update::UpdateOutcome{};
  nothingToApply_ = false;
  exitStatus_ = kExitCompleted;
}

}  // namespace launcher
