#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "records/record_database.h"
#include "records/records.h"
#include "seams/box_record.h"

struct pg_conn;

namespace stbup {

// The line's server said no, or did not answer in time. The text never holds
// a password.
class ServerError : public RecordsError {
 public:
  enum class Kind { kConnection, kSchemaTooNew, kRefused };
  ServerError(Kind kind, const std::string& what) : RecordsError(what), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// The line's records on a PostgreSQL server that every station shares,
// through libpq. Every wait is bounded: connecting by kConnectSeconds, every
// statement by the server's statement_timeout and by kAnswerSeconds of
// silence here (or the caller's deadline, when sooner); a link that dies
// quietly is found by TCP keep-alives and tcp_user_timeout. The schema is the
// local file's, brought up by the same ordered steps; a newer one is refused.
class ServerStore {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Mode { kWrite, kRead };

  static constexpr int kConnectSeconds = 5;
  static constexpr int kStatementSeconds = 10;
  static constexpr int kAnswerSeconds = 15;
  static constexpr int kKeepaliveIdleSeconds = 5;
  static constexpr int kKeepaliveIntervalSeconds = 2;
  static constexpr int kKeepaliveCount = 3;
  static constexpr int kTcpUserTimeoutMs = 10000;

  // Connects (a libpq URL or key words; the password only from libpq's own
  // places) and, for writing, brings the schema up to date.
  ServerStore(const std::string& server, Mode mode, Clock::time_point deadline,
              const std::vector<SchemaStep>& steps = RecordSchemaSteps());
  ~ServerStore();
  ServerStore(const ServerStore&) = delete;
  ServerStore& operator=(const ServerStore&) = delete;

  // One statement, so all or nothing; records the server holds already are
  // left as they are. Returns once the server has committed.
  void Insert(const std::vector<BoxRecord>& records, Clock::time_point deadline);
  // The matching records, oldest first, one at a time.
  void Query(const RecordFilter& filter, const std::function<void(const BoxRecord&)>& each);
  // The highest step applied; 0 for a database without the schema.
  int SchemaVersion();

  // The server as messages show it: host, port, database and user, never a
  // password.
  static std::string Describe(const std::string& server);

 private:
  class Result;
  void Connect(Clock::time_point deadline);
  void Migrate(const std::vector<SchemaStep>& steps, Clock::time_point deadline);
  Result Execute(const std::string& sql, const std::vector<std::optional<std::string>>& params,
                 Clock::time_point deadline);
  void Send(bool sent, Clock::time_point deadline);
  [[noreturn]] void Fail(ServerError::Kind kind, const std::string& what);

  std::string server_;
  std::string shown_;
  std::string password_;  // only to keep it out of messages
  pg_conn* conn_ = nullptr;
};

}  // namespace stbup
