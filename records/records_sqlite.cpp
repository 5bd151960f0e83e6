#include "records/record_database.h"
#include "records/record_writer.h"
#include "records/records.h"
#include "records/records_file.h"

namespace stbup {

std::unique_ptr<RecordSink> OpenRecordSink(const std::string& path) {
  return std::make_unique<RecordWriter>(path);
}

void ReadRecords(const std::string& path, const RecordFilter& filter, int passes,
                 const std::function<void(int pass, const BoxRecord&)>& each) {
  // Opening read-only would not create it, but say plainly what is missing;
  // and SQLite would wait for ever on a FIFO.
  if (CheckRecordsFile(path) == RecordsFileState::kMissing) {
    throw NoRecordsYet(path + ": no records yet");
  }
  RecordDatabase database(path, RecordDatabase::Mode::kRead);
  database.Query(filter, passes, each);
}

std::unique_ptr<RecordSink> OpenRecordSink(const std::string& path, const std::string& server) {
  return std::make_unique<RecordWriter>(path, server);
}

void ReadRecords(const std::string& path, const RecordFilter& filter,
                 const std::function<void(const BoxRecord&)>& each) {
  ReadRecords(path, filter, 1, [&each](int, const BoxRecord& record) { each(record); });
}

std::vector<BoxRecord> ReadRecords(const std::string& path, const RecordFilter& filter) {
  std::vector<BoxRecord> records;
  ReadRecords(path, filter, [&records](const BoxRecord& record) { records.push_back(record); });
  return records;
}

}  // namespace stbup
