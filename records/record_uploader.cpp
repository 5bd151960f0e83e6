#include "records/record_uploader.h"

#include <algorithm>
#include <filesystem>

#include "records/server_store.h"
#include "seams/utc_timestamp.h"

namespace stbup {

RecordUploader::RecordUploader(std::string records_path, std::string server)
    : path_(std::move(records_path)), server_(std::move(server)) {
  state_.server = ServerStore::Describe(server_);
}

RecordUploader::~RecordUploader() = default;

void RecordUploader::Written() {
  // A server backing off keeps its time; the record goes with the next try.
  if (back_off_.count() == 0) due_ = Clock::time_point::min();
}

std::optional<std::string> RecordUploader::TakeProblem() {
  std::lock_guard lock(problems_mutex_);
  if (unsaid_.empty()) return std::nullopt;
  std::string problem = std::move(unsaid_.front());
  unsaid_.pop_front();
  return problem;
}

void RecordUploader::Failed(const std::string& problem) {
  {
    std::lock_guard lock(problems_mutex_);
    if (said_.insert(problem).second) unsaid_.push_back(problem);
  }
  back_off_ = back_off_.count() == 0 ? kFirstBackOff : std::min(back_off_ * 2, kLongestBackOff);
  due_ = Clock::now() + back_off_;
  state_.last_error = problem;
  state_.last_error_at = FormatUtcTimestamp(std::chrono::system_clock::now());
  KeepState();
}

void RecordUploader::KeepState() {
  if (!local_) return;
  try {
    local_->WriteUploadState(state_);
  } catch (const RecordsError&) {
    // Only `stbup records status` reads it; the records themselves are safe.
  }
}

bool RecordUploader::Run(Clock::time_point deadline, bool now) {
  if (!now && Clock::now() < due_) return false;
  try {
    if (!local_) {
      // No file yet: nothing to send, and the writer makes it (and its
      // folder) with the first record.
      std::error_code missing;
      if (!std::filesystem::exists(path_, missing)) {
        due_ = Clock::time_point::max();
        return true;
      }
      local_ = std::make_unique<RecordDatabase>(path_, RecordDatabase::Mode::kWrite);
      const auto kept = local_->ReadUploadState();
      state_.last_batch_at = kept.last_batch_at;
      state_.last_error = kept.last_error;
      state_.last_error_at = kept.last_error_at;
    }
    for (;;) {
      RecordFilter pending;
      pending.pending = true;
      pending.limit = kBatch;
      const std::vector<BoxRecord> batch = local_->Query(pending);
      if (batch.empty()) {
        due_ = Clock::time_point::max();
        back_off_ = std::chrono::seconds(0);
        return true;
      }
      if (!store_) {
        store_ = std::make_unique<ServerStore>(server_, ServerStore::Mode::kWrite, deadline);
      }
      store_->Insert(batch, deadline);
      // Committed: from here a lost mark only means the batch goes again,
      // and the server keeps its first copy.
      std::vector<std::string> ids;
      ids.reserve(batch.size());
      for (const BoxRecord& record : batch) ids.push_back(record.record_id);
      state_.last_batch_at = FormatUtcTimestamp(std::chrono::system_clock::now());
      local_->MarkUploaded(ids, *state_.last_batch_at);
      KeepState();
      sent_ += static_cast<std::int64_t>(batch.size());
      back_off_ = std::chrono::seconds(0);
      if (Clock::now() >= deadline) {
        due_ = Clock::time_point::min();
        return false;
      }
    }
  } catch (const ServerError& error) {
    store_.reset();
    Failed(error.what());
  } catch (const RecordsError& error) {
    local_.reset();
    Failed(error.what());
  }
  return false;
}

}  // namespace stbup
