// Name rules: which added files pass through which filter.
#include "name_rule.h"

namespace pkfs {

namespace {

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

bool Matches(const NameRule& rule, const std::string& name) {
  if (rule.matchKind == 1) return name == rule.pattern;
  return name.find(rule.pattern) != std::string::npos;
}

}  // namespace

void NameRuleList::AddNameRule(const std::string& pattern, std::uint16_t encoderId) {
  const std::string upper = UpperAscii(pattern);
  for (NameRule& rule : rules_) {
    if (rule.pattern == upper) {
      rule.encode = 1;
      rule.encoderId = encoderId;
      return;
    }
  }
  NameRule rule;
  rule.pattern = upper;
  rule.encode = 1;
  rule.encoderId = encoderId;
  // A pattern written like "*.TXT" is matched against the whole name.
  rule.matchKind = pattern.find("*.") != std::string::npos ? 1 : 0;
  rules_.push_back(rule);
}

const NameRule* NameRuleList::FirstMatch(const std::string& name) const {
  for (const NameRule& rule : rules_) {
    if (Matches(rule, name)) return &rule;
  }
  return nullptr;
}

bool NameRuleList::MatchInPlaceRule(const std::string& name, std::uint16_t* encoderId) const {
  const NameRule* rule = FirstMatch(name);
  if (rule == nullptr) return false;
  if (encoderId != nullptr) *encoderId = rule->encoderId;
  return rule->encode != 0;
}

bool NameRuleList::MatchResizingRule(const std::string& name, std::uint16_t* compressorId) const {
  const NameRule* rule = FirstMatch(name);
  if (rule == nullptr) return false;
  if (compressorId != nullptr) *compressorId = rule->compressorId;
  return rule->compress != 0;
}

}  // namespace pkfs
