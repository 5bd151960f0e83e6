#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/core/record_sink.h"

namespace stbup {

class RecordDatabase;
class RecordUploader;

// The sink of the records file: Append only queues, a thread of its own opens
// the database (with the first record), digests the image and writes, so a
// slow, locked or broken file never holds up an exchange. The first failure is kept for the front
// end to say once; records that could not be written are dropped, and the
// next batch tries the file afresh.
class RecordWriter : public RecordSink {
 public:
  explicit RecordWriter(std::string path);
  // With an uploader to the line's server (a libpq URL or key words) on the
  // writer's thread: the file is the server's outbox. Flush and the
  // destructor give it up to RecordUploader::kExitBound; what is left stays
  // pending. Its problems come from TakeProblem after the file's, once per
  // cause.
  RecordWriter(std::string path, std::string server);
  // Writes what is queued, then ends the thread.
  ~RecordWriter() override;
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  void Append(BoxRecord record) override;
  std::optional<std::string> TakeProblem() override;

  void Flush() override;

  // Tries of a batch the file is too busy for, 50 ms apart.
  static constexpr int kBusyAttempts = 100;

 private:
  struct Digest {
    std::uintmax_t size;
    std::filesystem::file_time_type modified;
    std::optional<std::string> sha256;
  };

  void Open();
  void Loop();
  void Write(std::deque<BoxRecord>& batch);
  void Note(const std::string& problem);
  void DigestImage(BoxRecord& record);

  const std::string path_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable written_;
  std::deque<BoxRecord> queue_;
  std::uint64_t appended_ = 0;
  std::uint64_t done_ = 0;
  bool stopping_ = false;
  std::optional<std::string> problem_;
  bool problem_taken_ = false;

  // The writer thread's own.
  std::unique_ptr<RecordDatabase> database_;
  std::map<std::string, Digest> digests_;
  std::unique_ptr<RecordUploader> uploader_;

  // An ending front end's last round of uploads: asked, and rounds done.
  bool upload_asked_ = false;
  std::chrono::steady_clock::time_point upload_asked_at_;
  std::uint64_t upload_rounds_ = 0;
  bool uploaded_since_written_ = false;

  std::thread thread_;
};

}  // namespace stbup
