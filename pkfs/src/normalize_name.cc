// Name keys of the library: every stored name and every looked-up name passes
// through NormalizeName, so that "data\Sound.txt" and "/DATA/sound.TXT" meet
// under one key.
#include "pkfs/normalize_name.h"

#include "platform/path_spelling.h"

namespace pkfs {

namespace {

bool EndsInSeparator(const std::string& text) {
  return !text.empty() && platform::IsPathSeparator(text.back());
}

}  // namespace

void NormalizeName(std::string& name) {
  // Only the ASCII letters change; bytes of other code pages stay as they are.
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }

  // A byte above 0x80 leads a double-byte character whose second byte may be
  // 0x5C; that byte belongs to the character and is not a separator.
  for (std::size_t i = 0; i < name.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(name[i]);
    if (byte > 0x80) {
      ++i;
    } else if (byte == '\\') {
      name[i] = '/';
    }
  }

  // Collapse every run of "/" into one, in one pass.
  std::size_t out = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '/' && out > 0 && name[out - 1] == '/') continue;
    name[out++] = name[i];
  }
  name.resize(out);

  // Keys never start with "/" (after the collapse at most one is left).
  if (!name.empty() && name.front() == '/') name.erase(0, 1);
}

void ResolveRelative(std::string& directory, std::string& relative) {
  while (EndsInSeparator(directory)) directory.pop_back();

  // Each ".." climbs one "/" level of directory. A directory written with "\"
  // only has no "/" level to climb, and the ".." stays in relative.
  for (std::size_t dots = relative.find(".."); dots != std::string::npos;
       dots = relative.find("..")) {
    const std::size_t slash = directory.rfind('/');
    if (slash == std::string::npos) break;
    directory.resize(slash);
    relative.erase(dots, 3);
  }

  if (!directory.empty() && !EndsInSeparator(directory)) directory.push_back('/');
}

}  // namespace pkfs
