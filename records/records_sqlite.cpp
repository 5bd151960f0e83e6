#include <filesystem>

#include "records/record_database.h"
#include "records/record_writer.h"
#include "records/records.h"

namespace stbup {

std::unique_ptr<RecordSink> OpenRecordSink(const std::string& path) {
  return std::make_unique<RecordWriter>(path);
}

std::unique_ptr<RecordSink> OpenRecordSink(const std::string& path, const std::string& server) {
  return std::make_unique<RecordWriter>(path, server);
}

void ReadRecords(const std::string& path, const RecordFilter& filter,
                 const std::function<void(const BoxRecord&)>& each) {
  // Opening read-only would not create it, but say plainly what is missing.
  std::error_code error;
  if (!std::filesystem::exists(path, error)) throw RecordsError(path + ": no records yet");
  RecordDatabase database(path, RecordDatabase::Mode::kRead);
  database.Query(filter, each);
}

std::vector<BoxRecord> ReadRecords(const std::string& path, const RecordFilter& filter) {
  std::vector<BoxRecord> records;
  ReadRecords(path, filter, [&records](const BoxRecord& record) { records.push_back(record); });
  return records;
}

}  // namespace stbup
