// The line's server as the front ends see it: reading it, and the local
// file as its outbox.
#include <filesystem>

#include "records/record_database.h"
#include "records/record_uploader.h"
#include "records/records.h"
#include "records/server_store.h"

namespace stbup {

void ReadServerRecords(const std::string& server, const RecordFilter& filter,
                       const std::function<void(const BoxRecord&)>& each) {
  ServerStore store(server, ServerStore::Mode::kRead,
                    ServerStore::Clock::now() + std::chrono::seconds(ServerStore::kConnectSeconds));
  store.Query(filter, each);
}

UploadStatus ReadUploadStatus(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) throw RecordsError(path + ": no records yet");
  RecordDatabase database(path, RecordDatabase::Mode::kRead);
  const RecordDatabase::UploadState state = database.ReadUploadState();
  return UploadStatus{database.PendingCount(), state.server, state.last_batch_at, state.last_error,
                      state.last_error_at};
}

PushResult PushRecords(const std::string& path, const std::string& server) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) throw RecordsError(path + ": no records yet");
  RecordUploader uploader(path, server);
  // No limit of its own: the operator waits, and every wait inside is bounded.
  uploader.Run(RecordUploader::Clock::now() + std::chrono::hours(24 * 365), true);
  PushResult result;
  result.sent = uploader.Sent();
  while (auto problem = uploader.TakeProblem()) result.problems.push_back(std::move(*problem));
  result.pending = RecordDatabase(path, RecordDatabase::Mode::kRead).PendingCount();
  return result;
}

std::string DescribeRecordsServer(const std::string& server) {
  return ServerStore::Describe(server);
}

}  // namespace stbup
