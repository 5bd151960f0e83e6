#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "seams/box_record.h"

namespace stbup {

// Records that have not reached the records file yet, kept beside it as JSON
// Lines ("<records file>.pending.jsonl"), one record a line, each line
// written whole or not at all. The next run that opens the records file
// takes them in, once each (the record id decides). The outbox of any store
// that can be away: the file today, a server tomorrow.
class PendingRecords {
 public:
  explicit PendingRecords(const std::string& records_path);

  const std::string& Path() const { return path_; }
  // Appends the records. Throws RecordsError when the file cannot be written
  // (nothing of a record is left half written).
  void Append(const std::vector<BoxRecord>& records) const;
  // Every record kept so far; the file is gone afterwards. A line that is not
  // a whole record is skipped. Nothing when there is no file.
  std::vector<BoxRecord> TakeAll() const;

 private:
  std::string path_;
};

// One record as one JSON object on one line (the database's column names),
// and back; nothing for a line that is not a whole record.
std::string RecordToJsonLine(const BoxRecord& record);
std::optional<BoxRecord> RecordFromJsonLine(std::string_view line);
// Every whole record of a pending file's text, appended to records; a line
// cut short by a crash is passed over.
void AppendRecordsFromJsonLines(std::string_view text, std::vector<BoxRecord>& records);

}  // namespace stbup
