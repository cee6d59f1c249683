// The rules that select, by name, the files stored through a filter.
#ifndef PKFS_NAME_RULE_H_
#define PKFS_NAME_RULE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace pkfs {

struct NameRule {
  std::string pattern;  // upper-case
  unsigned char encode = 0;
  unsigned char compress = 0;
  std::uint16_t compressorId = 0;
  std::uint16_t encoderId = 0;
  std::int32_t matchKind = 0;  // 1: pattern given with "*." and matched whole; 0: substring
};

class NameRuleList {
 public:
  // Upper-cases pattern; updates the first rule with that exact pattern, or
  // appends a new one.
  void AddNameRule(const std::string& pattern, std::uint16_t encoderId);
  // The first matching rule decides. The name is compared as given.
  bool MatchInPlaceRule(const std::string& name, std::uint16_t* encoderId) const;
  bool MatchResizingRule(const std::string& name, std::uint16_t* compressorId) const;

  const std::vector<NameRule>& rules() const { return rules_; }

 private:
  const NameRule* FirstMatch(const std::string& name) const;
  std::vector<NameRule> rules_;
};

}  // namespace pkfs

#endif  // PKFS_NAME_RULE_H_
