#include "update/pack_stage.h"

#include <utility>

#include "platform/clock.h"

namespace update {

void PackStage::SetDirectories(std::vector<std::string> directories, bool searchIncomplete) {
  directories_ = std::move(directories);
  searchIncomplete_ = searchIncomplete;
}

void PackStage::OpenBatch() {
  if (batchOpen_) return;
  store_.BeginBatch();
  batchOpen_ = true;
  openedAt_ = platform::TickMilliseconds();
}

void PackStage::NoteStored(Source source) {
  bytes_ += source.size;
  sources_.push_back(std::move(source));
}

bool PackStage::BatchFull() const {
  return bytes_ >= budget_.bytes ||
         platform::TickMilliseconds() - openedAt_ >= budget_.milliseconds;
}

platform::Status PackStage::CommitBatch(std::vector<Source>* sources) {
  const platform::Status committed = store_.CommitBatch();
  batchOpen_ = false;
  *sources = std::move(sources_);
  sources_.clear();
  bytes_ = 0;
  return committed;
}

}  // namespace update
