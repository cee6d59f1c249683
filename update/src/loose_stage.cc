#include "update/loose_stage.h"

#include <memory>

#include "platform/file_system.h"
#include "platform/unnamed_file.h"
#include "relative_name.h"

namespace update {

void LooseStage::Begin(bool workPathIsInstallation, bool deleteSources, bool payloadsAsDelivered) {
  workPathIsInstallation_ = workPathIsInstallation;
  movesSources_ = deleteSources && payloadsAsDelivered && !workPathIsInstallation;
}

ReadAhead::Preparer LooseStage::MakePreparer(const std::string& installation,
                                             const std::string& source) const {
  if (workPathIsInstallation_) return ReadAhead::Preparer();
  return [installation, source, env = env_](const std::string& path,
                                            const std::vector<unsigned char>& bytes) {
    std::unique_ptr<platform::UnnamedFile> prepared;
    const std::string relative = internal::RelativeTo(path, source);
    if (relative.empty()) return prepared;
    env->WriteUnnamedFile(platform::DirectoryOf(installation + "/" + relative), bytes.data(),
                          bytes.size(), &prepared);
    return prepared;
  };
}

std::vector<std::pair<LooseStage::Pending, platform::Status>> LooseStage::Commit() {
  std::vector<std::pair<Pending, platform::Status>> outcomes;
  if (pending_.empty()) return outcomes;
  std::vector<platform::Status> results = batch_.Commit();
  outcomes.reserve(pending_.size());
  for (std::size_t i = 0; i < pending_.size() && i < results.size(); ++i) {
    outcomes.emplace_back(std::move(pending_[i]), std::move(results[i]));
  }
  pending_.clear();
  return outcomes;
}

}  // namespace update
