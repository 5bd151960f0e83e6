#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "records/record_database.h"

namespace stbup {

class ServerStore;

// Sends the records the local file holds and the line's server has not
// confirmed, oldest first, in batches; a batch is marked sent in the file
// only once the server has committed it, so a link lost at any point leaves
// it to be sent again, and the server keeps the first copy. A failure is
// tried again after 1 s, then 2, 4 ... up to 60 s between tries. Runs on the
// records writer's thread, never on an exchange's.
class RecordUploader {
 public:
  using Clock = std::chrono::steady_clock;
  // What an ending front end gives the server before it leaves the rest
  // pending for the next run or `stbup records push`.
  static constexpr std::chrono::seconds kExitBound{5};
  // The longest a round may keep the writer from the file while boxes run.
  static constexpr std::chrono::seconds kRoundBound{5};
  static constexpr std::chrono::seconds kFirstBackOff{1};
  static constexpr std::chrono::seconds kLongestBackOff{60};
  static constexpr int kBatch = 200;

  RecordUploader(std::string records_path, std::string server);
  ~RecordUploader();
  RecordUploader(const RecordUploader&) = delete;
  RecordUploader& operator=(const RecordUploader&) = delete;

  // A record has reached the local file.
  void Written();
  // When a round is next due; Clock::time_point::max() when nothing waits.
  Clock::time_point Due() const { return due_; }
  // Sends batches until nothing is pending (true), or the server fails or
  // the deadline passes (false). Only when due, unless asked now.
  bool Run(Clock::time_point deadline, bool now);
  // What went wrong with the server, once per cause, oldest first.
  std::optional<std::string> TakeProblem();
  std::int64_t Sent() const { return sent_; }

 private:
  void Failed(const std::string& problem);
  void KeepState();

  const std::string path_;
  const std::string server_;
  std::unique_ptr<RecordDatabase> local_;
  std::unique_ptr<ServerStore> store_;
  RecordDatabase::UploadState state_;
  // A run starts with what earlier runs left pending.
  Clock::time_point due_ = Clock::time_point::min();
  std::chrono::seconds back_off_{0};
  std::int64_t sent_ = 0;

  std::mutex problems_mutex_;
  std::set<std::string> said_;
  std::deque<std::string> unsaid_;
};

}  // namespace stbup
