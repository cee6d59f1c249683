// Emptied source directories, removed once at the end of a stage.
#include "fileutil/emptied_directories.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "fileutil/file_util.h"
#include "platform/env.h"
#include "platform/file_system.h"

namespace fileutil {

EmptiedDirectories::EmptiedDirectories(Remover remover) : remover_(std::move(remover)) {
  if (!remover_) {
    remover_ = [](const std::string& path) {
      return platform::Env::Default()->RemoveDirectory(path).ok();
    };
  }
}

void EmptiedDirectories::NoteDeleted(const std::string& relative, const std::string& base) {
  std::string name = relative;
  ReplaceAll(name, "\\\\", "/");
  ReplaceAll(name, "\\", "/");
  const std::size_t lastSlash = name.rfind('/');
  if (lastSlash == std::string::npos) return;  // directly in base: no level of its own
  std::vector<std::string> pieces;
  SplitString(name.substr(0, lastSlash), pieces, "/");
  std::string path = base;
  std::string parent;
  std::size_t depth = 0;
  for (const std::string& piece : pieces) {
    if (piece.empty()) continue;  // "a//b": the same directory
    // A level that names the directory itself or its parent would lead the
    // removal out of what the deletion emptied.
    if (piece == "." || piece == "..") return;
    path += "/";
    path += piece;
    ++depth;
    Level& level = levels_[path];
    level.parent = parent;
    level.depth = depth;
    parent = path;
  }
}

void EmptiedDirectories::NoteDirectoriesBelow(const std::string& base) {
  std::vector<platform::TreeEntry> entries;
  platform::ListTreeAsIs(base, &entries);
  for (const platform::TreeEntry& entry : entries) {
    const std::size_t slash = entry.path.rfind('/');
    const std::string parentRelative =
        slash == std::string::npos ? "" : entry.path.substr(0, slash);
    // Nothing inside a directory that the search passes over is looked at:
    // that directory itself keeps its parent. (Nor inside one whose name
    // holds a "\", which the system would read as two levels.)
    if (!parentRelative.empty() &&
        (parentRelative.front() == '.' || parentRelative.find("/.") != std::string::npos ||
         parentRelative.find('\\') != std::string::npos)) {
      continue;
    }
    const std::string parent = parentRelative.empty() ? "" : base + "/" + parentRelative;
    const std::string name = entry.path.substr(slash == std::string::npos ? 0 : slash + 1);
    if (entry.kind == platform::TreeEntry::Kind::kDirectory && name.front() != '.' &&
        name.find('\\') == std::string::npos) {
      Level& level = levels_[base + "/" + entry.path];
      level.parent = parent;
      level.depth =
          1 + static_cast<std::size_t>(std::count(entry.path.begin(), entry.path.end(), '/'));
    } else if (!parent.empty()) {
      levels_[parent].stays = true;
    }
  }
}

void EmptiedDirectories::RemoveAll(const Output& output) {
  std::vector<std::pair<std::size_t, const std::string*>> order;
  order.reserve(levels_.size());
  for (const auto& entry : levels_) order.emplace_back(entry.second.depth, &entry.first);
  // Deepest first; the same depth in a fixed order, so that runs repeat.
  std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : *a.second < *b.second;
  });
  for (const auto& item : order) {
    const std::string& path = *item.second;
    Level& level = levels_[path];
    if (!level.stays) {
      // Gone already counts as removed; anything else (not empty, a file in
      // its place, no permission) keeps it.
      level.stays = !remover_(path) && platform::PathExists(path);
    }
    if (!level.stays) continue;
    if (output) {
      output("Remove Directory:" + path);
    } else {
      std::printf("Remove Directory:%s", path.c_str());
    }
    if (!level.parent.empty()) levels_[level.parent].stays = true;
  }
  levels_.clear();
}

}  // namespace fileutil
