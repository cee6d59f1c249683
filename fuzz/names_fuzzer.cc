// Name keys and relative-name resolution against their stated properties:
// a normalised name has no lower-case ASCII letter, no leading "/", no run of
// "/", no "\" outside a double-byte character, and normalising it again
// changes nothing; resolving a relative name only ever shortens the directory
// at "/" levels and removes ".." steps.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "pkfs/normalize_name.h"

namespace {

void CheckNormalized(const std::string& original) {
  std::string name = original;
  pkfs::NormalizeName(name);

  FUZZ_CHECK(name.size() <= original.size(), "normalising never lengthens a name");
  FUZZ_CHECK(name.empty() || name.front() != '/', "no leading /");
  FUZZ_CHECK(name.find("//") == std::string::npos, "no run of /");
  for (std::size_t i = 0; i < name.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(name[i]);
    FUZZ_CHECK(!(byte >= 'a' && byte <= 'z'), "no lower-case letter");
    if (byte > 0x80) {
      ++i;  // the second byte of a double-byte character may be anything
    } else {
      FUZZ_CHECK(byte != '\\', "no \\ outside a double-byte character");
    }
  }
  // Only separators go: the other bytes keep their order (upper-cased).
  std::string kept;
  for (char c : original) {
    if (c != '/' && c != '\\') kept.push_back(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  std::string keptAfter;
  for (char c : name) {
    if (c != '/' && c != '\\') keptAfter.push_back(c);
  }
  FUZZ_CHECK(kept == keptAfter, "only separators are removed or rewritten");

  std::string again = name;
  pkfs::NormalizeName(again);
  FUZZ_CHECK(again == name, "normalising is idempotent");
}

void CheckResolved(const std::string& originalDirectory, const std::string& originalRelative) {
  std::string directory = originalDirectory;
  std::string relative = originalRelative;
  pkfs::ResolveRelative(directory, relative);

  FUZZ_CHECK(relative.size() <= originalRelative.size(), "the relative name only shrinks");
  FUZZ_CHECK(directory.empty() || directory.back() == '/' || directory.back() == '\\',
             "a resolved directory ends in a separator");
  // The directory is a prefix of the original (up to its new end separator).
  const std::string stem =
      directory.empty() ? directory : directory.substr(0, directory.size() - 1);
  FUZZ_CHECK(originalDirectory.compare(0, stem.size(), stem) == 0,
             "the directory is cut, never rewritten");
  // Every ".." that is left could not climb: the directory has no "/" level.
  if (relative.find("..") != std::string::npos) {
    FUZZ_CHECK(stem.find('/') == std::string::npos, "a .. stays only when no level is left");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader input(data, size);
  const std::string first = input.Until(std::string(1, '\0'));
  const std::string second = input.Rest();
  CheckNormalized(first);
  CheckNormalized(second);
  CheckResolved(first, second);
  return 0;
}
