// The dialog itself: initialisation, the message routing, the command filter
// and the change-state table that strings the stages together.
#include "update/update_dialog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "fileutil/file_util.h"
#include "platform/standard_streams.h"
#include "resources/string_table.h"
#include "ui/message_box.h"

namespace update {

namespace {

// printf's formatting, whatever the length of the result.
std::string Formatted(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
  }
  return text;
}

}  // namespace

UpdateDialog::UpdateDialog(UpdateHost& host, PackStore& packStore, ui::ProgressView& progress)
    : host_(host),
      packStore_(packStore),
      progress_(progress),
      stdoutIsTerminal_(platform::StandardOutputIsTerminal()),
      ledger_(host.env()),
      looseStage_(host.env()),
      packStage_(packStore),
      readAhead_(
          [this](const std::string& path, std::vector<unsigned char>& buffer,
                 platform::FileStamp* stamp) { return LoadWithinLimit(path, buffer, stamp); },
          ReadAheadLimits{}, host.env()) {
  packStore_.SetOutputSink(
      [this](pkfs::OutputStream stream, const std::string& text) { LibraryOutput(stream, text); });
}

UpdateDialog::~UpdateDialog() {
  // The library outlives the dialog; it must not call into it afterwards.
  packStore_.SetOutputSink(nullptr);
}

int UpdateDialog::DoModal() {
  OnInitDialog();
  progress_.Show();
  int result =
      queue_.RunModal([this](const ui::Message& m) { WindowProc(m.message, m.wParam, m.lParam); });
  // A refused update leaves no finished-looking bar behind.
  progress_.Close(!refused_);
  return result;
}

bool UpdateDialog::OnInitDialog() {
  // The big and the small icon would be set here; a terminal has none.
  packStore_.Mount(host_.packName());
  PostMessage(WM_CHECKVERSION);
  return true;
}

LParam UpdateDialog::WindowProc(std::uint32_t message, WParam wParam, LParam lParam) {
  switch (message) {
    case WM_CHECKVERSION:
      return OnCheckVersion(wParam, lParam);
    case WM_STEPDONE:
      return OnStepDone(wParam, lParam);
    case WM_UPDATEADDDATAINPAK:
      return applyPackFile(wParam, lParam);
    case WM_UPDATENORMALDATA:
      return applyNormalFile(wParam, lParam);
    case WM_FINDADDDATAINPAKFILE:
      return findPackFiles(wParam, lParam);
    case WM_FINDNORMALDATA:
      return findNormalFiles(wParam, lParam);
    case WM_CHANGESTATE:
      return OnChangeState(wParam, lParam);
    case WM_COMMAND:
      return OnCommand(wParam, lParam) ? 1 : 0;
    default:
      return 0;
  }
}

bool UpdateDialog::OnCommand(WParam wParam, LParam) {
  // The cancel command (Escape, a close request, Ctrl-C) must not stop the
  // update halfway: it is swallowed, not handled. Nothing on this platform
  // produces any other command. The user is told why, once.
  if (wParam == static_cast<WParam>(IDCANCEL) && !toldCannotStop_) {
    toldCannotStop_ = true;
    ShowMessage(kCannotStopMessage);
  }
  return false;
}

void UpdateDialog::PostMessage(std::uint32_t message, WParam wParam, LParam lParam) {
  queue_.Post(message, wParam, lParam);
}

void UpdateDialog::EndDialog(int result) { queue_.EndModal(result); }

bool UpdateDialog::PumpMessage() {
  return queue_.PumpOne(
      [this](const ui::Message& m) { WindowProc(m.message, m.wParam, m.lParam); });
}

LParam UpdateDialog::OnStepDone(WParam, LParam) { return 0; }

LParam UpdateDialog::OnChangeState(WParam wParam, LParam) {
  if (wParam == 1) {
    state_ = static_cast<UpdateState>(static_cast<std::int32_t>(state_) + 1);
    Print("Change State!!\n");
  }
  switch (state_) {
    case UpdateState::kFindPackFiles:
      Print("WM_FINDADDDATAINPAKFILE\n");
      PostMessage(WM_FINDADDDATAINPAKFILE);
      break;
    case UpdateState::kStorePackFiles:
      Print("WM_UPDATEADDDATAINPAK\n");
      PostMessage(WM_UPDATEADDDATAINPAK);
      break;
    case UpdateState::kFindLooseFiles:
      Print("WM_FINDNORMALDATA\n");
      PostMessage(WM_FINDNORMALDATA);
      break;
    case UpdateState::kWriteLooseFiles:
      Print("WM_UPDATENORMALDATA\n");
      PostMessage(WM_UPDATENORMALDATA);
      break;
    case UpdateState::kQuit:
      Print("WM_QUIT\n");
      PostMessage(WM_QUIT);
      break;
    default:
      break;
  }
  return 0;
}

UpdateOutcome UpdateDialog::outcome() const {
  UpdateOutcome result;
  result.refused = refused_;
  result.packBusy = packBusy_;
  result.keptBack = static_cast<int>(ledger_.keptBackCount());
  return result;
}

// ---- Shared steps of the stage handlers ----

int UpdateDialog::LoadWithinLimit(const std::string& path, std::vector<unsigned char>& buffer,
                                  platform::FileStamp* stamp) {
  MemorySink sink(buffer, readAhead_.limits().maxFileBytes);
  const bool stampedByHost = host_.stampsPayloads();
  if (!stampedByHost) *stamp = host_.env()->StampOf(path);
  const PayloadResult result = host_.decodeFile(path, sink);
  if (stampedByHost) *stamp = result.opened;
  if (sink.overLimit()) {
    std::vector<unsigned char>().swap(buffer);
    return kLoadInPieces;
  }
  if (result.ok()) return 0;
  NoteLoadFailure(path, result.failure);
  return -1;
}

void UpdateDialog::NoteLoadFailure(const std::string& path, const std::string& reason) {
  std::lock_guard<std::mutex> lock(loadFailuresMutex_);
  loadFailures_[path] = reason.empty() ? std::string("cannot be read") : reason;
}

std::string UpdateDialog::LoadFailure(const std::string& path) {
  std::lock_guard<std::mutex> lock(loadFailuresMutex_);
  auto found = loadFailures_.find(path);
  if (found == loadFailures_.end()) return "cannot be read";
  std::string reason = std::move(found->second);
  loadFailures_.erase(found);
  return reason;
}

std::string UpdateDialog::SourceDirectory() const {
  std::string source = host_.workPath();
  fileutil::NormalizePath(source);
  return source;
}

std::string UpdateDialog::PackSource() const {
  std::string source = host_.workPath() + "/Pak";
  fileutil::NormalizePath(source);
  return source;
}

void UpdateDialog::ResetProgressForList() {
  // The bar's range is 16 bits wide: the maximum is count - 1 cut to its low
  // 16 bits (an empty list gives 65535).
  progress_.Send(PBM_SETRANGE, 0,
                 ui::PackProgressRange(0, static_cast<std::uint32_t>(fileList_.size() - 1)));
  progress_.Send(PBM_SETPOS, 0, 0);
  // Beside the 16-bit range, the view counts the stage's files itself.
  progress_.SetStage(state_ <= UpdateState::kStorePackFiles ? "pack" : "files", fileList_.size());
  fileIndex_ = 0;
}

void UpdateDialog::StepDone() {
  progress_.Send(PBM_SETPOS, static_cast<WParam>(fileIndex_), 0);
  progress_.SetDone(static_cast<std::uint64_t>(fileIndex_) + 1);
  PostMessage(WM_STEPDONE);
  PumpMessage();
}

void UpdateDialog::PostNextFile() {
  ++fileIndex_;
  bool more = !fileList_.empty() && static_cast<std::size_t>(fileIndex_) < fileList_.size();
  PostMessage(WM_CHANGESTATE, more ? 0 : 1);
}

const std::string* UpdateDialog::CurrentEntry() const {
  if (fileIndex_ < 0 || static_cast<std::size_t>(fileIndex_) >= fileList_.size()) return nullptr;
  return &fileList_[static_cast<std::size_t>(fileIndex_)];
}

// ---- Output ----

void UpdateDialog::WriteStandardOutput(const std::string& text) {
  if (!stdoutIsTerminal_) {
    // Nobody reads these lines as they come: they gather in the stream's
    // buffer and leave in large writes. Whatever goes to standard error
    // flushes them first, so that a file taking both keeps their order.
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
    return;
  }
  const bool completesLine = !text.empty() && text.back() == '\n';
  std::fflush(stdout);
  if (completesLine) {
    progress_.BeforeOutput(stdout);
  } else {
    progress_.Hold();  // an unfinished line: the bar must not land on it
  }
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  // The line is complete: the bar may be drawn below it again.
  if (completesLine) progress_.Release();
}

void UpdateDialog::LibraryOutput(pkfs::OutputStream stream, const std::string& text) {
  if (stream == pkfs::OutputStream::kOutput) {
    WriteStandardOutput(text);
    return;
  }
  std::fflush(stdout);
  progress_.BeforeOutput(stderr);
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void UpdateDialog::Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = Formatted(format, args);
  va_end(args);
  WriteStandardOutput(text);
}

void UpdateDialog::Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = Formatted(format, args);
  va_end(args);
  host_.writeLog(text);
}

void UpdateDialog::ShowMessage(const std::string& text) {
  std::fflush(stdout);
  progress_.BeforeOutput(stderr);
  ui::ShowMessageBox(resources::kApplicationTitle, text);
}

void UpdateDialog::KeepBack(const std::string& source, const std::string& reason) {
  if (!ledger_.NoteKeptBack(source)) return;
  ShowMessage("kept back " + Shown(source) + ": " + reason);
  Log("%s kept back: %s\n", Shown(source).c_str(), reason.c_str());
}

}  // namespace update
