#include "records/record_writer.h"

#include <algorithm>
#include <chrono>

#include "records/pending_records.h"
#include "records/record_database.h"
#include "records/record_uploader.h"
#include "records/sha256.h"
#include "records/signal_free_thread.h"

namespace stbup {

RecordWriter::RecordWriter(std::string path) : path_(std::move(path)) {
  thread_ = StartSignalFreeThread([this] { Loop(); });
}

RecordWriter::RecordWriter(std::string path, std::string server)
    : path_(std::move(path)),
      uploader_(server.empty() ? nullptr
                               : std::make_unique<RecordUploader>(path_, std::move(server))) {
  thread_ = StartSignalFreeThread([this] { Loop(); });
}

RecordWriter::~RecordWriter() {
  Flush();
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void RecordWriter::Append(BoxRecord record) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(record));
    ++appended_;
  }
  wake_.notify_one();
}

std::optional<std::string> RecordWriter::TakeProblem() {
  {
    std::lock_guard lock(mutex_);
    if (problem_ && !problem_taken_) {
      problem_taken_ = true;
      return problem_;
    }
  }
  return uploader_ ? uploader_->TakeProblem() : std::nullopt;
}

bool RecordWriter::Settled() {
  std::lock_guard lock(mutex_);
  return done_ >= appended_;
}

std::vector<std::string> RecordWriter::TakeNotes() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> notes;
  notes.swap(notes_);
  return notes;
}

void RecordWriter::Flush() {
  std::unique_lock lock(mutex_);
  const std::uint64_t target = appended_;
  const auto written = [&] { return done_ >= target; };
  if (!written_.wait_for(lock, kExitWait, written)) {
    // The file is held past the bound: what is left is kept aside, which
    // takes a local append, not another wait on the file.
    const std::uint64_t kept_before = kept_;
    abandon_ = true;
    written_.wait(lock, written);
    abandon_ = false;
    if (kept_ > kept_before) {
      notes_.push_back(std::to_string(kept_ - kept_before) +
                       (kept_ - kept_before == 1 ? " record" : " records") +
                       " could not be written to " + path_ + " within " +
                       std::to_string(kExitWait.count()) + " s: kept in " +
                       PendingRecords(path_).Path() + " for the next run");
    }
  }
  // Once a last round has had what is written, a second flush (the
  // destructor's after the front end's) does not wait on the server again.
  if (!uploader_ || uploaded_since_written_) return;
  // One bounded round for what is written, as an ending front end's last.
  const std::uint64_t round = upload_rounds_ + 1;
  upload_asked_ = true;
  upload_asked_at_ = std::chrono::steady_clock::now();
  wake_.notify_one();
  written_.wait(lock, [&] { return upload_rounds_ >= round; });
}

void RecordWriter::Tell(const std::string& note) {
  std::lock_guard lock(mutex_);
  notes_.push_back(note);
}

void RecordWriter::Keep(const std::deque<BoxRecord>& batch) {
  try {
    PendingRecords(path_).Append(std::vector<BoxRecord>(batch.begin(), batch.end()));
    std::lock_guard lock(mutex_);
    kept_ += batch.size();
  } catch (const RecordsError& error) {
    Note(std::string(error.what()) + ": " + std::to_string(batch.size()) +
         (batch.size() == 1 ? " record lost" : " records lost"));
  }
}

void RecordWriter::TakeInPending() {
  const PendingRecords pending(path_);
  std::vector<BoxRecord> records = pending.TakeAll();
  if (records.empty()) return;
  try {
    database_->Insert(records, /*skip_known=*/true);
  } catch (...) {
    pending.Append(records);  // back where they were, for a later try
    throw;
  }
  Tell(std::to_string(records.size()) + (records.size() == 1 ? " record" : " records") +
       " kept in " + pending.Path() + " by an earlier run taken in");
}

void RecordWriter::Note(const std::string& problem) {
  std::lock_guard lock(mutex_);
  if (!problem_) problem_ = problem;
}

void RecordWriter::Open() {
  const std::filesystem::path parent = std::filesystem::path(path_).parent_path();
  std::error_code error;
  if (!parent.empty() && !std::filesystem::is_directory(parent, error)) {
    std::filesystem::create_directories(parent, error);
    if (error) {
      throw RecordsError(path_ + ": cannot create the folder " + parent.string() + ": " +
                         error.message());
    }
  }
  database_ = std::make_unique<RecordDatabase>(path_, RecordDatabase::Mode::kWrite,
                                               RecordSchemaSteps(), [this] { return !abandon_; });
  TakeInPending();
}

void RecordWriter::Loop() {
  // The file is opened with the first record, between boxes, not while the
  // first exchange starts.
  std::unique_lock lock(mutex_);
  for (;;) {
    const auto ready = [this] { return stopping_ || !queue_.empty() || upload_asked_; };
    if (uploader_ && uploader_->Due() != RecordUploader::Clock::time_point::max()) {
      wake_.wait_until(lock, std::max(uploader_->Due(), RecordUploader::Clock::now()), ready);
    } else {
      wake_.wait(lock, ready);
    }
    if (!queue_.empty()) {
      std::deque<BoxRecord> batch;
      batch.swap(queue_);
      lock.unlock();
      const std::size_t count = batch.size();
      Write(batch);
      if (uploader_) uploader_->Written();
      lock.lock();
      done_ += count;
      uploaded_since_written_ = false;
      written_.notify_all();
      continue;  // what came meanwhile is written before the server is tried
    }
    // Ending after a last round: the rest stays pending for the next run.
    if (uploader_ && !(stopping_ && uploaded_since_written_ && !upload_asked_)) {
      // An ending front end's round is tried whatever the back-off says, once.
      const bool last = (stopping_ && !uploaded_since_written_) || upload_asked_;
      // The bound counts from when the front end asked: a round already
      // under way when it did takes from it.
      const auto now = RecordUploader::Clock::now();
      const auto deadline =
          last ? (upload_asked_ ? upload_asked_at_ : now) + RecordUploader::kExitBound
               : now + RecordUploader::kRoundBound;
      lock.unlock();
      if (deadline > now) uploader_->Run(deadline, last);
      lock.lock();
      if (last) uploaded_since_written_ = true;
      // A front end that asked while an ordinary round was under way still
      // gets its last round, bounded from when it asked; taking the
      // ordinary round as its answer would leave the destructor's flush a
      // whole bound of its own.
      if (last && upload_asked_) {
        upload_asked_ = false;
        ++upload_rounds_;
        written_.notify_all();
      }
    }
    if (stopping_ && queue_.empty()) break;
  }
}

void RecordWriter::Write(std::deque<BoxRecord>& batch) {
  for (BoxRecord& record : batch) DigestImage(record);
  // Another writer holds the file: SQLite waits for it while Flush's bound
  // allows, and a few cases it does not wait for (two processes creating it
  // at once, a checkpoint) are tried again as long.
  for (;;) {
    try {
      if (!database_) Open();
      database_->Insert(std::vector<BoxRecord>(batch.begin(), batch.end()));
      return;
    } catch (const RecordsError& error) {
      database_.reset();
      const std::string what = error.what();
      const bool busy =
          what.find("locked") != std::string::npos || what.find("busy") != std::string::npos;
      if (busy && !abandon_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      if (!busy) Note(what);
      Keep(batch);
      return;
    } catch (const std::exception& error) {
      Note(path_ + ": " + error.what());
      database_.reset();
      Keep(batch);
      return;
    }
  }
}

void RecordWriter::DigestImage(BoxRecord& record) {
  if (record.image_sha256 || !record.image_size || record.image_path.empty()) return;
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(record.image_path, error);
  if (error || size != static_cast<std::uintmax_t>(*record.image_size)) return;
  const auto modified = std::filesystem::last_write_time(record.image_path, error);
  if (error) return;
  // One image serves many boxes: digest it once while it stays the same.
  auto known = digests_.find(record.image_path);
  if (known == digests_.end() || known->second.size != size || known->second.modified != modified) {
    Digest digest{size, modified, Sha256OfFile(record.image_path)};
    known = digests_.insert_or_assign(record.image_path, digest).first;
  }
  record.image_sha256 = known->second.sha256;
}

}  // namespace stbup
