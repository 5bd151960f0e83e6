#include <filesystem>

#include "records/record_database.h"
#include "records/record_writer.h"
#include "records/records.h"

namespace stbup {

std::unique_ptr<RecordSink> OpenRecordSink(const std::string& path) {
  return std::make_unique<RecordWriter>(path);
}

std::vector<BoxRecord> ReadRecords(const std::string& path, const RecordFilter& filter) {
  // Opening read-only would not create it, but say plainly what is missing.
  std::error_code error;
  if (!std::filesystem::exists(path, error)) throw RecordsError(path + ": no records yet");
  RecordDatabase database(path, RecordDatabase::Mode::kRead);
  return database.Query(filter);
}

}  // namespace stbup
