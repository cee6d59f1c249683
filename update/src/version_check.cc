// The version gate: with "-v" the update runs only for a client whose update
// index the patch accepts.
#include "update/version_check.h"

#include <cstdio>
#include <string>

#include "platform/byte_order.h"
#include "platform/file_system.h"
#include "platform/status.h"
#include "resources/string_table.h"
#include "update/pack_store.h"
#include "update/update_dialog.h"

namespace update {

namespace {

// Reads exactly length bytes from the start of path. False when the file does
// not open or is shorter; nothing read is then used.
bool ReadLeadingBytes(const std::string& path, unsigned char* out, std::size_t length,
                      bool* opened) {
  std::FILE* file = platform::OpenFile(path, "rb");
  *opened = file != nullptr;
  if (file == nullptr) return false;
  std::size_t got = std::fread(out, 1, length, file);
  std::fclose(file);
  return got == length;
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

  unsigned char patch[8];
  bool opened = false;
  if (!ReadLeadingBytes("Patch.dat", patch, sizeof patch, &opened)) {
    // A patch that cannot be verified is not applied.
    ShowMessage(opened ? "Can't Read Patch.dat" : "Can't Find Patch.dat");
    return false;
  }
  patchValue1_ = platform::LoadU32(patch);
  patchValue2_ = platform::LoadU32(patch + 4);

  const std::string indexPath = host_.currentDir() + "/UpdateSetting/UpdateIndex.dat";
  unsigned char index[4];
  if (!ReadLeadingBytes(indexPath, index, sizeof index, &opened)) {
    ShowMessage((opened ? "Can't Read " : "Can't Find ") + indexPath);
    return false;
  }
  return VersionAllowsUpdate(platform::LoadU32(index), patchValue1_, patchValue2_);
}

}  // namespace update
