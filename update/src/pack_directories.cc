// Where the pack update files are: "Pak" below the work path, in whatever
// letter case it was delivered (several spellings may sit side by side on a
// system whose names differ in case), and never behind a symbolic link.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "fileutil/file_util.h"
#include "platform/ascii_case.h"
#include "platform/file_system.h"
#include "relative_name.h"
#include "update/update_dialog.h"

namespace update {

namespace {

// What a link to a directory below the work path is kept back with: following
// it could read, store and (under "-df") delete files anywhere.
constexpr char kLinkReason[] = "is a symbolic link; nothing behind it is read or deleted";

}  // namespace

std::vector<std::string> UpdateDialog::PackDirectories(
    std::vector<std::string>* links, std::vector<fileutil::UnlistedDirectory>* unlisted) const {
  const std::string workPath = SourceDirectory();
  std::vector<platform::DirectoryEntry> entries;
  std::vector<std::string> directoryLinks;
  std::vector<std::string> directories;
  const platform::Status listed = host_.env()->ListDirectory(workPath, &entries, &directoryLinks);
  if (!listed.ok()) {
    fileutil::NoteUnlisted(workPath, listed.error(), unlisted);
    return directories;
  }
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.isDirectory && platform::LowerAscii(entry.name) == "pak") {
      directories.push_back(workPath + "/" + entry.name);
    }
  }
  for (const std::string& link : directoryLinks) {
    if (platform::LowerAscii(link) == "pak") links->push_back(workPath + "/" + link);
  }
  return directories;
}

std::string UpdateDialog::NameInPack(const std::string& entry) const {
  // Below the work path the entry is "<Pak>\sub\a.txt": its name in the pack
  // is what follows the first level.
  const std::string belowWorkPath = internal::RelativeTo(entry, SourceDirectory());
  const std::size_t separator = belowWorkPath.find_first_of("\\/");
  if (separator == std::string::npos) return std::string();
  return belowWorkPath.substr(separator + 1);
}

std::string UpdateDialog::PackDirectoryOf(const std::string& entry) const {
  const std::string belowWorkPath = internal::RelativeTo(entry, SourceDirectory());
  return SourceDirectory() + "/" + belowWorkPath.substr(0, belowWorkPath.find_first_of("\\/"));
}

void UpdateDialog::KeepBackLinks(const std::vector<std::string>& links) {
  for (const std::string& link : links) KeepBack(link, kLinkReason);
}

void UpdateDialog::KeepBackUnlisted(const std::vector<fileutil::UnlistedDirectory>& unlisted) {
  for (const fileutil::UnlistedDirectory& directory : unlisted) {
    KeepBack(directory.path, directory.error == ENAMETOOLONG
                                 ? std::string("its path is longer than the system allows")
                                 : std::string("cannot be listed: ") +
                                       std::strerror(directory.error) +
                                       "; the files below it were not looked at");
  }
}

bool UpdateDialog::MissedByPackSearch(const std::string& entry) const {
  if (!packStage_.searchIncomplete() || WasStoredInPack(entry)) return false;
  const std::string belowWorkPath = internal::RelativeTo(entry, SourceDirectory());
  const std::size_t separator = belowWorkPath.find_first_of("\\/");
  return separator != std::string::npos &&
         platform::LowerAscii(belowWorkPath.substr(0, separator)) == "pak";
}

}  // namespace update
