#pragma once

#include <atomic>
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
#include <vector>

#include "seams/record_sink.h"

namespace stbup {

class RecordDatabase;
class RecordUploader;

// The sink of the records file: Append only queues, a thread of its own opens
// the database (with the first record), digests the image and writes, so a
// slow, locked or broken file never holds up an exchange. The first failure
// is kept for the front end to say once. Records that cannot be written (a
// broken file, or one still locked when Flush's 10 s are up) are kept in the
// pending file beside it, which the next opening takes in; the next batch
// tries the file afresh.
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
  std::vector<std::string> TakeNotes() override;
  bool Settled() override;

  // At most kExitWait, then what is left goes to the pending file.
  void Flush() override;

  static constexpr std::chrono::seconds kExitWait{10};

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
  void Tell(const std::string& note);
  // Records that could not be written, into the pending file.
  void Keep(const std::deque<BoxRecord>& batch);
  void TakeInPending();
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
  std::vector<std::string> notes_;
  std::atomic<bool> abandon_{false};  // Flush's time is up: no more waiting
  std::uint64_t kept_ = 0;            // records put in the pending file

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
