// The records seam for a build without the store (no SQLite): no sink, and
// reading says why.
#include "records/records.h"

namespace stbup {

std::string DefaultRecordsPath() { return {}; }

std::unique_ptr<RecordSink> OpenRecordSink(const std::string&) { return nullptr; }
std::unique_ptr<RecordSink> OpenRecordSink(const std::string&, const std::string&) {
  return nullptr;
}

void ReadRecords(const std::string&, const RecordFilter&,
                 const std::function<void(const BoxRecord&)>&) {
  throw RecordsError("this build keeps no records");
}

void ReadRecords(const std::string&, const RecordFilter&, int,
                 const std::function<void(int, const BoxRecord&)>&) {
  throw RecordsError("this build keeps no records");
}

std::vector<BoxRecord> ReadRecords(const std::string&, const RecordFilter&) {
  throw RecordsError("this build keeps no records");
}

void ReadServerRecords(const std::string&, const RecordFilter&,
                       const std::function<void(const BoxRecord&)>&) {
  throw RecordsError("this build keeps no records");
}

UploadStatus ReadUploadStatus(const std::string&) {
  throw RecordsError("this build keeps no records");
}

// Without libpq the address is not read: shown as given would show a password.
std::string DescribeRecordsServer(const std::string&) { return "a server this build cannot reach"; }

PushResult PushRecords(const std::string&, const std::string&) {
  throw RecordsError("this build keeps no records");
}

std::string RecordsLibraryVersions() { return {}; }

std::string DefaultRecordsPlace() {
  return "stbup/records.sqlite3 under $XDG_DATA_HOME or ~/.local/share";
}

}  // namespace stbup
