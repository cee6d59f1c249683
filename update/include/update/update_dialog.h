// The modal progress dialog that drives the whole update. It does its work in
// small steps, each one a message posted to its own queue: the version gate,
// the search for pack update files, storing them one per message, the search
// for loose update files, writing them one per message, and the quit.
#ifndef UPDATE_UPDATE_DIALOG_H_
#define UPDATE_UPDATE_DIALOG_H_

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "fileutil/file_util.h"
#include "platform/file_identity.h"
#include "platform/unnamed_file.h"
#include "ui/message_queue.h"
#include "ui/progress_view.h"
#include "update/loose_file_batch.h"
#include "update/loose_stage.h"
#include "update/pack_stage.h"
#include "update/pack_store.h"
#include "update/read_ahead.h"
#include "update/source_ledger.h"
#include "update/update_host.h"
#include "update/update_run.h"

// printf-style checking of the debug and log lines. MinGW's C++ runtime
// formats with its own ANSI printf, which knows "%zu"; tell the checker so.
#if defined(__MINGW32__)
#define UPDATE_PRINTF_LIKE(formatIndex, firstArgument) \
  __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define UPDATE_PRINTF_LIKE(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#endif

namespace update {

using ui::LParam;
using ui::WParam;

// The dialog's own messages (posted to itself, lParam always 0).
constexpr std::uint32_t WM_USER = 0x0400;
constexpr std::uint32_t WM_CHECKVERSION = WM_USER + 1;
constexpr std::uint32_t WM_STEPDONE = WM_USER + 3;
constexpr std::uint32_t WM_UPDATEADDDATAINPAK = WM_USER + 4;
constexpr std::uint32_t WM_UPDATENORMALDATA = WM_USER + 5;
constexpr std::uint32_t WM_FINDADDDATAINPAKFILE = WM_USER + 6;
constexpr std::uint32_t WM_FINDNORMALDATA = WM_USER + 7;
constexpr std::uint32_t WM_CHANGESTATE = WM_USER + 8;  // wParam 1 advances, anything else stays
constexpr std::uint32_t WM_QUIT = ui::kQuitMessage;
constexpr std::uint32_t WM_COMMAND = ui::kCommandMessage;

// Messages the dialog sends to its progress bar.
constexpr std::uint32_t PBM_SETRANGE = ui::kProgressSetRange;
constexpr std::uint32_t PBM_SETPOS = ui::kProgressSetPos;

// The steps of the run, in order; WM_CHANGESTATE with wParam 1 moves to the
// next one. The values are those the run log and tests have always seen.
enum class UpdateState : std::int32_t {
  kCheckVersion = 0,     // the version gate
  kFindPackFiles = 1,    // list the pack update files
  kStorePackFiles = 2,   // store them, one per message
  kFindLooseFiles = 3,   // list the loose update files
  kWriteLooseFiles = 4,  // write them, one per message
  kQuit = 5,
};

// Where below the work path "-df" moves the delivered files that are kept
// back because a later file took their name. Its name begins with ".", so
// the searches never apply what it holds.
constexpr char kKeptBackDirectory[] = ".kept-back";

// The cancel command, and the result of a dialog ended as cancelled.
constexpr int IDCANCEL = 2;

// What the first cancel command (Ctrl-C) is answered with.
constexpr char kCannotStopMessage[] = "finishing the update; it cannot be stopped safely midway";

class UpdateDialog {
 public:
  // The dialog uses host for the paths, the options, the log and the payload
  // loader; packStore receives the pack update files; progress shows the bar.
  // The pack store's library output goes through the dialog from here on, so
  // that it keeps the bar off its lines; the destructor takes that back.
  UpdateDialog(UpdateHost& host, PackStore& packStore, ui::ProgressView& progress);
  ~UpdateDialog();
  UpdateDialog(const UpdateDialog&) = delete;
  UpdateDialog& operator=(const UpdateDialog&) = delete;

  // Initialises the dialog, shows it and runs the modal loop until the quit
  // message or EndDialog. Returns IDCANCEL after a refusal by the version gate,
  // ui::kModalQuit after a normal end.
  int DoModal();

  // Initialisation, in this order: icons (nothing to set on a terminal), the
  // pack store's mount with the host's pack name, then WM_CHECKVERSION posted.
  bool OnInitDialog();

  // Routes one message to its handler and returns the handler's result.
  LParam WindowProc(std::uint32_t message, WParam wParam, LParam lParam);

  // Commands. The cancel command (Escape, a close request, Ctrl-C) is
  // swallowed: returns false (not handled) and the dialog stays open; the
  // first one says so on standard error (kCannotStopMessage).
  bool OnCommand(WParam wParam, LParam lParam);

  // Posts to the dialog's own queue.
  void PostMessage(std::uint32_t message, WParam wParam = 0, LParam lParam = 0);
  // Ends the modal run with result once the current message is handled.
  void EndDialog(int result);
  // The single-message pump: dispatches the oldest queued message. False when
  // there was none (or it was the quit message).
  bool PumpMessage();

  // Handlers of the dialog's messages.
  LParam OnCheckVersion(WParam wParam, LParam lParam);
  LParam OnStepDone(WParam wParam, LParam lParam);
  LParam OnChangeState(WParam wParam, LParam lParam);
  LParam findPackFiles(WParam wParam, LParam lParam);
  LParam applyPackFile(WParam wParam, LParam lParam);
  LParam findNormalFiles(WParam wParam, LParam lParam);
  LParam applyNormalFile(WParam wParam, LParam lParam);

  // Reads "Patch.dat" and the installation's update index and decides whether
  // the update may proceed. Anything that cannot be read refuses.
  bool CheckVersion();

  // What the run did: a refusal, and the update files kept back.
  UpdateOutcome outcome() const;

  // How many files are decoded ahead of the one being applied, and by how
  // many threads. Inline (one worker) unless set.
  void SetReadAheadLimits(const ReadAheadLimits& limits) { readAhead_.SetLimits(limits); }
  const ReadAhead& readAhead() const { return readAhead_; }

  // A batch of pack stores commits when its payload reaches bytes, when
  // milliseconds passed since it opened, or after the last file: a stop
  // loses at most one batch's work, and the directory rewrite of each
  // commit stays a small share of what is written.
  using BatchBudget = PackStage::Budget;
  void SetPackBatchBudget(const BatchBudget& budget) { packStage_.SetBudget(budget); }

  UpdateState state() const { return state_; }
  int fileIndex() const { return fileIndex_; }
  const std::vector<std::string>& fileList() const { return fileList_; }
  std::uint32_t patchValue1() const { return patchValue1_; }
  std::uint32_t patchValue2() const { return patchValue2_; }
  ui::MessageQueue& queue() { return queue_; }
  void SetStateForTesting(UpdateState state) { state_ = state; }

 private:
  // Formatted debug line on standard output, flushed at once so that it keeps
  // its place among the other lines of the process.
  void Print(const char* format, ...) UPDATE_PRINTF_LIKE(2, 3);
  // Formatted text for the run log.
  void Log(const char* format, ...) UPDATE_PRINTF_LIKE(2, 3);
  // A message box with the application's title.
  void ShowMessage(const std::string& text);
  // A line on standard error (no message box), with the bar wiped first.
  void SayOnStandardError(const std::string& text) {
    LibraryOutput(pkfs::OutputStream::kError, text);
  }
  // Records that the update file at source stays where it is and names it on
  // standard error (once per file).
  void KeepBack(const std::string& source, const std::string& reason);
  // A path as a Linux user types it: every "\" shown as "/".
  static std::string Shown(const std::string& path) { return SourceLedger::Key(path); }

  // Delivered files that land on one name (letter case aside, as on the
  // system the installation comes from) are all applied in list order, so the
  // last wins; the ledger remembers each earlier one as overwritten by the
  // next (SourceLedger::PlanOverwrites), so that its source is kept and named
  // instead of deleted.
  // Keeps source back when a later delivered file overwrote it. True if so.
  bool KeepBackIfOverwritten(const std::string& source);
  // The reason a pack update file whose bytes are loaded cannot be stored, or
  // empty when it can.
  std::string PackRefusal(const std::vector<unsigned char>& data) const;
  // The read-ahead's loader: the file decoded into buffer, 0; -1 when it
  // cannot be decoded (the reason kept for LoadFailure); kLoadInPieces when
  // it decodes to more than one file may hold in memory. *stamp gets the
  // file as it was before the decode read it.
  int LoadWithinLimit(const std::string& path, std::vector<unsigned char>& buffer,
                      platform::FileStamp* stamp);
  // Why the last load of path failed ("not a bzip2 stream"), and forgets it.
  std::string LoadFailure(const std::string& path);
  void NoteLoadFailure(const std::string& path, const std::string& reason);
  // Stores a pack update file too large to hold in memory, a piece at a time:
  // read in order when its size is known first, or else decoded into a
  // scratch file beside the pack and copied from there. Keeps it back with
  // the reason when it cannot be stored; adds it to the open batch otherwise.
  void StorePackFileInPieces(const std::string& entry, const std::string& relative);
  // Refusal of a pack file of size bytes that no volume can hold, or empty.
  std::string VolumeSizeRefusal(std::uint64_t size) const;
  // The run log's line for a pack file that is about to be stored: written
  // before the store, so it is there even when the store fails (the
  // kept-back line then follows it); a refused file has no size line.
  void LogPackSize(const std::string& entry, std::uint64_t size);
  // The pack volume that destination would overwrite, or empty.
  std::string PackVolumeAt(const std::string& destination) const;
  // True when the work path is the installation itself (no "-sw"): each loose
  // file is then its own destination.
  bool WorkPathIsInstallation() const;
  // After the stages, under "-df": every file still below the work path that
  // was not named yet is named as not applied, and counts as kept back.
  void ReportLeftovers();
  // What applying a loose file starts from: its bytes in dataBuffer_ (and,
  // when the read-ahead wrote them ahead, that file), or, for a source that is
  // to be moved into place, only its size.
  struct LooseSource {
    bool moving = false;
    bool inPieces = false;  // too large for memory: decoded into place at its turn
    std::uint64_t size = 0;
    std::unique_ptr<platform::UnnamedFile> prepared;
  };
  // The file at fileIndex_ as the loose stage starts from it; false when it
  // cannot be read.
  bool LoadLooseSource(const std::string& entry, LooseSource* loaded);
  // The file's decoded bytes from the read-ahead (or the note that it is to
  // be decoded in pieces); false when it cannot be read.
  bool TakeLooseSource(std::size_t index, const std::string& entry, LooseSource* loaded);
  // Applies the loose file entry of the work path source to the installation
  // (the current directory).
  void ApplyLooseFile(const std::string& entry, const std::string& source);
  // The batch target of destination, after committing the batch first when
  // it is full (size more bytes to come) or already holds that target.
  LooseFileBatch::Target LocateInBatch(const std::string& destination,
                                       const platform::FileStamp& existing, std::uint64_t size);
  // Stages the loaded file: moved, named where it was written ahead, or
  // written from its bytes; a failure keeps it back with the reason.
  void StageLooseFile(const std::string& entry, const std::string& relative,
                      const std::string& destination, const LooseFileBatch::Target& target,
                      bool inPack, LooseSource& loaded);
  // Writes the staged loose files into place; under "-df" then deletes the
  // sources of those that are in place.
  void CommitLooseFiles();
  // Text for standard output (the debug lines, the pack file system's lines
  // and the directory clean-up's): the bar is wiped first, and after text
  // that leaves its line unfinished it stays away until a complete line.
  void WriteStandardOutput(const std::string& text);
  // The pack file system's output sink: standard output as above; its waits
  // and warnings to standard error, with the bar wiped first.
  void LibraryOutput(pkfs::OutputStream stream, const std::string& text);

  // The work path as the searches use it, and the pack update directory.
  std::string SourceDirectory() const;
  std::string PackSource() const;
  // The directories below the work path whose files go into the pack: "Pak"
  // in every letter case, in listing order. Those that are links to
  // directories are appended to links instead.
  std::vector<std::string> PackDirectories(
      std::vector<std::string>* links, std::vector<fileutil::UnlistedDirectory>* unlisted) const;
  // The name below its "Pak" directory of an entry of the pack search; empty
  // when it has none.
  std::string NameInPack(const std::string& entry) const;
  // The "Pak" directory (in its letter case) that holds an entry of the pack
  // search.
  std::string PackDirectoryOf(const std::string& entry) const;
  // Keeps back each link to a directory that a search met and did not follow.
  void KeepBackLinks(const std::vector<std::string>& links);
  // Names each directory that could not be listed (its files were not found)
  // and keeps it back.
  void KeepBackUnlisted(const std::vector<fileutil::UnlistedDirectory>& unlisted);
  // True for a file below a spelling of "Pak" that the pack stage did not
  // store while part of its search failed: such a file must not reach the
  // installation as a loose file alone.
  bool MissedByPackSearch(const std::string& entry) const;
  // Under "-df", moves a source that is kept back because a later file took
  // its name into kKeptBackDirectory below the work path, under its name
  // there (with ".1", ".2", ... when an earlier run left one), so that a
  // rerun does not apply it over the later one and nothing is lost. The new
  // path, or empty when it could not be moved.
  std::string MoveAside(const std::string& source);
  // A search's end: range [0, count - 1], position 0, fileIndex 0.
  void ResetProgressForList();
  // After a file: bar to fileIndex, WM_STEPDONE posted, one message pumped.
  void StepDone();
  // An apply handler's end: next file, or the next state.
  void PostNextFile();
  // The entry at fileIndex, or null when fileIndex is outside the list.
  const std::string* CurrentEntry() const;
  bool IsKeptBack(const std::string& source) const { return ledger_.IsKeptBack(source); }
  bool WasStoredInPack(const std::string& source) const {
    return ledger_.WasStoredInPack(source);
  }
  // Commits the open batch of pack stores. Its sources count as stored (and
  // under "-df" go) only once it succeeded; otherwise each is kept back with
  // the reason.
  void CommitPackBatch();
  // Deletes an applied update file, logs it and notes the directory levels
  // of relative below base, which the stage's end removes when emptied.
  // size: the source's size as far as the caller knows it.
  void RemoveSource(const std::string& source, const std::string& relative,
                    const std::string& base,
                    std::uint64_t size = SourceRelease::kUnknownSize);
  // A stage's end: the noted directories that are empty now go, deepest
  // first, then base itself when it is empty; under "-df" with a work path of
  // its own, then also any other empty directory below base.
  void RemoveEmptiedDirectories(const std::string& base);

  UpdateHost& host_;
  PackStore& packStore_;
  ui::ProgressView& progress_;
  // Standard output is written line by line only for a reader at a terminal.
  const bool stdoutIsTerminal_;
  ui::MessageQueue queue_;

  std::vector<std::string> fileList_;
  std::vector<unsigned char> dataBuffer_;
  std::int32_t fileIndex_ = 0;
  std::uint32_t patchValue1_ = 0;
  std::uint32_t patchValue2_ = 0;
  UpdateState state_ = UpdateState::kCheckVersion;

  bool refused_ = false;
  bool toldCannotStop_ = false;
  bool packBusy_ = false;  // the pack stayed locked by another process: nothing was applied
  // What became of each delivered file: kept back, stored, deleted, moved
  // aside; and which later file takes its name.
  SourceLedger ledger_;

  // How the loose-file stage applies files, and its batch of files waiting
  // for their commit.
  LooseStage looseStage_;
  // The pack stage's directories and its open batch of stores.
  PackStage packStage_;

  // Why loads failed, by path, as the read-ahead's threads found it.
  std::mutex loadFailuresMutex_;
  std::map<std::string, std::string> loadFailures_;

  // Loads the listed files through the host. Last, so that its workers stop
  // before anything else of the dialog goes.
  ReadAhead readAhead_;
};

}  // namespace update

#endif  // UPDATE_UPDATE_DIALOG_H_
