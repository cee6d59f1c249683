// The version gate: with "-v" the update runs only for a client whose update
// index the patch accepts.
#include "update/version_check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/byte_order.h"
#include "platform/env.h"
#include "platform/status.h"
#include "resources/string_table.h"
#include "update/pack_store.h"
#include "update/update_dialog.h"

namespace update {

namespace {

// Reads exactly length bytes from the start of path. Empty when they were
// read; otherwise why not, as the end of a sentence that begins with the
// file's name ("does not exist", "holds 3 bytes, fewer than the 4 of ..."),
// and nothing read is then used. *opened tells whether the file opened.
std::string ReadLeadingBytes(platform::Env* env, const std::string& path, unsigned char* out,
                             std::size_t length, const char* holding, bool* opened) {
  std::unique_ptr<platform::SequentialFile> file;
  const platform::Status open = env->OpenSequentialFile(path, &file, nullptr);
  *opened = open.ok();
  if (!open.ok()) {
    if (open.error() == ENOENT) return "does not exist";
    return "cannot be opened: " + open.Reason();
  }
  std::size_t got = 0;
  const platform::Status read = file->Read(out, length, &got);
  if (!read.ok()) return "cannot be read: " + read.Reason();
  if (got == length) return std::string();
  return "holds " + std::to_string(got) + " bytes, fewer than the " + std::to_string(length) +
         " of " + holding;
}

}  // namespace

bool VersionAllowsUpdate(std::uint32_t installIndex, std::uint32_t patchValue1,
                         std::uint32_t patchValue2) {
  if (installIndex < patchValue1) return false;
  // At or past patchValue1 the patch applies, whether or not the client has
  // already reached patchValue2.
  static_cast<void>(patchValue2);
  return true;
}

LParam UpdateDialog::OnCheckVersion(WParam, LParam) {
  // Another process is changing the pack: applying the loose files alone
  // would leave the installation half updated, so nothing is applied and the
  // run fails; the same update can simply run again.
  if (const platform::Status blocked = packStore_.MountBlocked(); !blocked.ok()) {
    std::fflush(stdout);
    std::fprintf(stderr, "marovetin: %s; nothing was updated\n", blocked.ToString().c_str());
    packBusy_ = true;
    refused_ = true;
    EndDialog(IDCANCEL);
    return 0;
  }
  if (!host_.checkVersion() || CheckVersion()) {
    PostMessage(WM_CHANGESTATE, 1);
    return 0;
  }
  ShowMessage(resources::LoadString(resources::IDS_CLIENT_TOO_OLD));
  refused_ = true;
  packStore_.UndoMount();
  EndDialog(IDCANCEL);
  return 0;
}

bool UpdateDialog::CheckVersion() {
  Print("CheckVersion!\n");

  // Whatever keeps the check from reading its values refuses the update as
  // too old; standard error says which file it was and why.
  unsigned char patch[8];
  bool opened = false;
  const std::string patchFailure =
      ReadLeadingBytes(host_.env(), "Patch.dat", patch, sizeof patch, "its two values", &opened);
  if (!patchFailure.empty()) {
    // A patch that cannot be verified is not applied.
    if (!opened) ShowMessage("Can't Find Patch.dat");
    if (opened || patchFailure != "does not exist") {
      SayOnStandardError("marovetin: Patch.dat " + patchFailure +
                         "; the update cannot be checked\n");
    }
    return false;
  }
  patchValue1_ = platform::LoadU32(patch);
  patchValue2_ = platform::LoadU32(patch + 4);

  const std::string indexPath = host_.currentDir() + "/UpdateSetting/UpdateIndex.dat";
  unsigned char index[4];
  const std::string indexFailure =
      ReadLeadingBytes(host_.env(), indexPath, index, sizeof index, "the update index", &opened);
  if (!indexFailure.empty()) {
    SayOnStandardError("marovetin: " + indexPath + " " + indexFailure +
                       "; the installed version cannot be checked\n");
    return false;
  }
  return VersionAllowsUpdate(platform::LoadU32(index), patchValue1_, patchValue2_);
}

}  // namespace update
