// The injected-failure plan of fault_plan.h: parsed once, counted per kind.
#include "fault_plan.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fault_env.h"

namespace testing_support {

namespace {

constexpr int kKinds = kIoCallKinds;
// The "errno" KILL: the process dies at that call, before it acts.
constexpr int kKill = -1;

struct FaultEntry {
  int kind = 0;
  long long call = 0;   // the first call that fails (numbered from 1)
  bool onward = false;  // "+": every later call fails too
  int error = 0;
};

struct FaultPlan {
  bool active = false;
  std::vector<FaultEntry> entries;
  std::atomic<long long> calls[kKinds] = {};
  std::atomic<long long> failed{0};
};

int ErrorNamed(const std::string& text) {
  struct Named {
    const char* name;
    int error;
  };
  static const Named kNames[] = {{"EIO", EIO},
                                 {"ENOSPC", ENOSPC},
                                 {"EROFS", EROFS},
                                 {"EFBIG", EFBIG},
#ifdef EDQUOT  // not in the Windows C library
                                 {"EDQUOT", EDQUOT}
#endif
  };
  for (const Named& named : kNames) {
    if (text == named.name) return named.error;
  }
  if (text == "KILL") return kKill;
  char* end = nullptr;
  const long number = std::strtol(text.c_str(), &end, 10);
  return (!text.empty() && *end == '\0' && number > 0 && number < 4096) ? static_cast<int>(number)
                                                                        : 0;
}

// "kind:call[+]:errno"; false when it is not one.
bool ParseEntry(const std::string& text, FaultEntry* entry) {
  const std::size_t first = text.find(':');
  const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  if (second == std::string::npos) return false;
  const std::string kind = text.substr(0, first);
  std::string call = text.substr(first + 1, second - first - 1);
  entry->kind = -1;
  for (int k = 0; k < kKinds; ++k) {
    if (kind == IoCallName(static_cast<IoCall>(k))) entry->kind = k;
  }
  if (!call.empty() && call.back() == '+') {
    entry->onward = true;
    call.pop_back();
  }
  char* end = nullptr;
  entry->call = std::strtoll(call.c_str(), &end, 10);
  entry->error = ErrorNamed(text.substr(second + 1));
  return entry->kind >= 0 && !call.empty() && *end == '\0' && entry->call > 0 && entry->error != 0;
}

FaultPlan& Plan();

// As a kill from outside would end it: at once, with no exit handlers and no
// buffers flushed.
[[noreturn]] void Die() {
#ifdef SIGKILL
  std::raise(SIGKILL);
#endif
  std::_Exit(137);
}

void ReportAtExit() {
  FaultPlan& plan = Plan();
  std::string line = "fault plan:";
  for (int kind = 0; kind < kKinds; ++kind) {
    line += std::string(" ") + IoCallName(static_cast<IoCall>(kind)) + "=" +
            std::to_string(plan.calls[kind].load());
  }
  line += " failed=" + std::to_string(plan.failed.load()) + "\n";
  std::fputs(line.c_str(), stderr);
}

FaultPlan& Plan() {
  static FaultPlan* plan = [] {
    auto* made = new FaultPlan;  // lives until exit: the report reads it then
    const char* text = std::getenv("MAROVETIN_FAULT_PLAN");
    if (text == nullptr || text[0] == '\0') return made;
    made->active = true;
    std::string all(text);
    std::size_t at = 0;
    while (at <= all.size()) {
      std::size_t comma = all.find(',', at);
      if (comma == std::string::npos) comma = all.size();
      const std::string item = all.substr(at, comma - at);
      FaultEntry entry;
      if (item != "count" && !item.empty()) {
        if (ParseEntry(item, &entry)) {
          made->entries.push_back(entry);
        } else {
          std::fprintf(stderr, "MAROVETIN_FAULT_PLAN: \"%s\" is not kind:call[+]:errno; ignored\n",
                       item.c_str());
        }
      }
      at = comma + 1;
    }
    std::atexit(ReportAtExit);
    return made;
  }();
  return *plan;
}

int NextIoFault(IoCall call) {
  FaultPlan& plan = Plan();
  const int kind = static_cast<int>(call);
  const long long number = ++plan.calls[kind];
  for (const FaultEntry& entry : plan.entries) {
    if (entry.kind != kind) continue;
    if (number == entry.call || (entry.onward && number > entry.call)) {
      if (entry.error == kKill) Die();
      ++plan.failed;
      return entry.error;
    }
  }
  return 0;
}

}  // namespace

std::map<std::string, long long> FaultPlanCounts(const std::string& standardError) {
  std::map<std::string, long long> counts;
  const std::size_t at = standardError.find("fault plan:");
  if (at == std::string::npos) return counts;
  const std::size_t end = standardError.find('\n', at);
  std::string line = standardError.substr(at + 11, end == std::string::npos ? end : end - at - 11);
  std::size_t position = 0;
  while (position < line.size()) {
    std::size_t next = line.find(' ', position);
    if (next == std::string::npos) next = line.size();
    const std::string item = line.substr(position, next - position);
    const std::size_t equals = item.find('=');
    if (equals != std::string::npos) {
      counts[item.substr(0, equals)] = std::strtoll(item.c_str() + equals + 1, nullptr, 10);
    }
    position = next + 1;
  }
  return counts;
}

platform::Env* FaultPlanEnvFromEnvironment() {
  if (!Plan().active) return platform::Env::Default();
  static FaultEnv* const env = new FaultEnv;  // used until exit
  env->fault = NextIoFault;
  return env;
}

}  // namespace testing_support
