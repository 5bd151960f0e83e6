#include "records/server_store.h"

#include <libpq-fe.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <type_traits>

#include "records/socket_wait.h"
#include "seams/utc_timestamp.h"

namespace stbup {

namespace {

// Texts as libpq takes them, one per column in RecordColumnList's order;
// numbers in their shortest exact form.
std::vector<std::optional<std::string>> ColumnTexts(const BoxRecord& r) {
  const auto number = [](auto value) { return std::optional<std::string>(std::to_string(value)); };
  const auto optional_number = [&number](const auto& value) -> std::optional<std::string> {
    if (!value) return std::nullopt;
    return number(*value);
  };
  // Not printf: a window's locale may write a decimal comma.
  char seconds[40];
  const auto written = std::to_chars(seconds, seconds + sizeof seconds, r.seconds);
  return {r.record_id,
          r.started_at,
          r.ended_at,
          r.station,
          r.front_end,
          r.port,
          r.loader_kind,
          r.loader_version,
          optional_number(r.flash_size),
          r.flash_chip,
          r.box_model,
          r.box_hw,
          r.box_sw,
          r.image_path,
          optional_number(r.image_size),
          r.image_sha256,
          r.image_model,
          r.image_hw,
          r.image_sw,
          r.image_type,
          number(r.blocks_sent),
          number(r.blocks_retried),
          std::string(seconds, written.ptr),
          std::string(VerdictName(r.verdict)),
          number(r.exit_status),
          r.log_tail,
          r.operator_name,
          r.work_order};
}

// The cast each column's parameter takes: a multi-row VALUES list does not
// learn its types from the table.
constexpr const char* kColumnCasts[kRecordColumnCount] = {"",
                                                          "",
                                                          "",
                                                          "",
                                                          "",
                                                          "",
                                                          "",
                                                          "",
                                                          "::integer",
                                                          "",
                                                          "",
                                                          "",
                                                          "",
                                                          "",
                                                          "::bigint",
                                                          "",
                                                          "",
                                                          "",
                                                          "",
                                                          "",
                                                          "::integer",
                                                          "::integer",
                                                          "::double precision",
                                                          "",
                                                          "::integer",
                                                          "",
                                                          "",
                                                          ""};

template <typename Number>
bool ReadNumber(const char* text, Number& value) {
  const char* end = text + std::strlen(text);
  const auto [at, error] = std::from_chars(text, end, value);
  return error == std::errc() && at == end;
}

constexpr std::int64_t kMigrationLock = 0x73746275;  // one station migrates at a time

}  // namespace

// A result that is cleared however the scope is left.
class ServerStore::Result {
 public:
  explicit Result(PGresult* result = nullptr) : result_(result) {}
  Result(Result&& other) noexcept : result_(other.result_) { other.result_ = nullptr; }
  Result& operator=(Result&& other) noexcept {
    std::swap(result_, other.result_);
    return *this;
  }
  ~Result() { PQclear(result_); }
  PGresult* get() const { return result_; }

 private:
  PGresult* result_;
};

std::string ServerStore::Describe(const std::string& server) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(server.c_str(), &error);
  PQfreemem(error);
  if (options == nullptr) return "(an address libpq cannot read)";
  std::string host, port, dbname, user, service;
  for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
    if (o->val == nullptr || *o->val == '\0') continue;
    const std::string keyword = o->keyword;
    if (keyword == "host" || (keyword == "hostaddr" && host.empty())) host = o->val;
    if (keyword == "port") port = o->val;
    if (keyword == "dbname") dbname = o->val;
    if (keyword == "user") user = o->val;
    if (keyword == "service") service = o->val;
  }
  PQconninfoFree(options);
  std::string shown;
  const auto add = [&shown](const char* keyword, const std::string& value) {
    if (value.empty()) return;
    shown += shown.empty() ? "" : " ";
    shown += keyword;
    shown += "=";
    shown += value;
  };
  add("service", service);
  add("host", host);
  add("port", port);
  add("dbname", dbname);
  add("user", user);
  return shown.empty() ? "the default server" : shown;
}

ServerStore::ServerStore(const std::string& server, Mode mode, Clock::time_point deadline,
                         const std::vector<SchemaStep>& steps)
    : server_(server), shown_(Describe(server)) {
  char* error = nullptr;
  if (PQconninfoOption* options = PQconninfoParse(server.c_str(), &error)) {
    for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
      if (std::string_view(o->keyword) == "password" && o->val != nullptr) password_ = o->val;
    }
    PQconninfoFree(options);
  } else {
    PQfreemem(error);
    throw ServerError(ServerError::Kind::kConnection,
                      "the line's server: not a PostgreSQL URL or key words");
  }
  try {
    Connect(deadline);
    if (mode == Mode::kWrite) {
      Migrate(steps, deadline);
    } else {
      const int version = SchemaVersion();
      const int known = steps.empty() ? 0 : steps.back().version;
      if (version > known) {
        Fail(ServerError::Kind::kSchemaTooNew,
             "records of schema version " + std::to_string(version) +
                 ", newer than this stbup knows (" + std::to_string(known) + ")");
      }
    }
  } catch (...) {
    PQfinish(conn_);
    throw;
  }
}

ServerStore::~ServerStore() { PQfinish(conn_); }

void ServerStore::Fail(ServerError::Kind kind, const std::string& what) {
  // libpq's texts run over lines (a hint after a tab): one line here.
  std::string said;
  std::size_t start = 0;
  while (start <= what.size()) {
    std::size_t end = what.find('\n', start);
    if (end == std::string::npos) end = what.size();
    std::string line = what.substr(start, end - start);
    const std::size_t first = line.find_first_not_of(" \t\r");
    const std::size_t last = line.find_last_not_of(" \t\r");
    if (first != std::string::npos) {
      said += said.empty() ? "" : "; ";
      said += line.substr(first, last - first + 1);
    }
    start = end + 1;
  }
  std::string message = "the line's server (" + shown_ + "): " + said;
  if (!password_.empty()) {
    for (std::size_t at = message.find(password_); at != std::string::npos;
         at = message.find(password_, at)) {
      message.replace(at, password_.size(), "****");
    }
  }
  throw ServerError(kind, message);
}

void ServerStore::Connect(Clock::time_point deadline) {
  // Ours first: the server's own text (URL or key words) may set any of
  // these otherwise, and is expanded where dbname stands.
  const std::string connect = std::to_string(kConnectSeconds);
  const std::string idle = std::to_string(kKeepaliveIdleSeconds);
  const std::string interval = std::to_string(kKeepaliveIntervalSeconds);
  const std::string count = std::to_string(kKeepaliveCount);
  const std::string user_timeout = std::to_string(kTcpUserTimeoutMs);
  const char* keywords[] = {"connect_timeout",  "keepalives",
                            "keepalives_idle",  "keepalives_interval",
                            "keepalives_count", "tcp_user_timeout",
                            "application_name", "dbname",
                            "client_encoding",  nullptr};
  const char* values[] = {
      connect.c_str(),      "1",     idle.c_str(),    interval.c_str(), count.c_str(),
      user_timeout.c_str(), "stbup", server_.c_str(), "UTF8",           nullptr};
  conn_ = PQconnectStartParams(keywords, values, 1);
  if (conn_ == nullptr) Fail(ServerError::Kind::kConnection, "out of memory");
  if (PQstatus(conn_) == CONNECTION_BAD)
    Fail(ServerError::Kind::kConnection, PQerrorMessage(conn_));
  // libpq's connect_timeout counts only in its blocking calls; this wait is ours.
  const Clock::time_point until =
      std::min(deadline, Clock::now() + std::chrono::seconds(kConnectSeconds));
  PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
  for (;;) {
    if (polling == PGRES_POLLING_OK) break;
    if (polling == PGRES_POLLING_FAILED) {
      Fail(ServerError::Kind::kConnection, PQerrorMessage(conn_));
    }
    if (!WaitSocket(PQsocket(conn_), polling == PGRES_POLLING_WRITING, until)) {
      Fail(ServerError::Kind::kConnection,
           "no answer within " + std::to_string(kConnectSeconds) + " s of connecting");
    }
    polling = PQconnectPoll(conn_);
  }
  if (PQsetnonblocking(conn_, 1) != 0) Fail(ServerError::Kind::kConnection, PQerrorMessage(conn_));
  Execute("SET statement_timeout = " + std::to_string(kStatementSeconds * 1000), {}, deadline);
}

void ServerStore::Send(bool sent, Clock::time_point deadline) {
  if (!sent) Fail(ServerError::Kind::kConnection, PQerrorMessage(conn_));
  for (;;) {
    const int flushed = PQflush(conn_);
    if (flushed == 0) return;
    if (flushed < 0) Fail(ServerError::Kind::kConnection, PQerrorMessage(conn_));
    if (!WaitSocket(PQsocket(conn_), true, deadline)) {
      Fail(ServerError::Kind::kConnection, "the server took no more data in time");
    }
    PQconsumeInput(conn_);
  }
}

ServerStore::Result ServerStore::Execute(const std::string& sql,
                                         const std::vector<std::optional<std::string>>& params,
                                         Clock::time_point deadline) {
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const auto& param : params) values.push_back(param ? param->c_str() : nullptr);
  const Clock::time_point until =
      std::min(deadline, Clock::now() + std::chrono::seconds(kAnswerSeconds));
  Send(PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                         values.data(), nullptr, nullptr, 0) == 1,
       until);
  // The last result is the one that counts; an error among them decides.
  Result last;
  std::optional<std::string> error;
  for (;;) {
    while (PQisBusy(conn_) == 1) {
      if (!WaitSocket(PQsocket(conn_), false, until)) {
        Fail(ServerError::Kind::kConnection,
             "no answer within " + std::to_string(kAnswerSeconds) + " s");
      }
      if (PQconsumeInput(conn_) == 0) Fail(ServerError::Kind::kConnection, PQerrorMessage(conn_));
    }
    Result result(PQgetResult(conn_));
    if (result.get() == nullptr) break;
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && !error) {
      error = PQresultErrorMessage(result.get());
    }
    last = std::move(result);
  }
  if (error) {
    Fail(PQstatus(conn_) == CONNECTION_OK ? ServerError::Kind::kRefused
                                          : ServerError::Kind::kConnection,
         *error);
  }
  return last;
}

int ServerStore::SchemaVersion() {
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kAnswerSeconds);
  Result exists = Execute("SELECT to_regclass('stbup_schema') IS NOT NULL", {}, deadline);
  if (std::string_view(PQgetvalue(exists.get(), 0, 0)) != "t") return 0;
  Result version = Execute("SELECT COALESCE(MAX(version), 0) FROM stbup_schema", {}, deadline);
  int value = 0;
  ReadNumber(PQgetvalue(version.get(), 0, 0), value);
  return value;
}

void ServerStore::Migrate(const std::vector<SchemaStep>& steps, Clock::time_point deadline) {
  const int known = steps.empty() ? 0 : steps.back().version;
  // Most connections find the schema as it should be: no lock, no writing.
  int current = SchemaVersion();
  if (current == known) return;
  if (current > known) {
    Fail(ServerError::Kind::kSchemaTooNew, "records of schema version " + std::to_string(current) +
                                               ", newer than this stbup knows (" +
                                               std::to_string(known) + ")");
  }
  Execute("BEGIN", {}, deadline);
  try {
    // Stations starting together take turns; the later ones find it done.
    Execute("SELECT pg_advisory_xact_lock(" + std::to_string(kMigrationLock) + ")", {}, deadline);
    Execute(
        "CREATE TABLE IF NOT EXISTS stbup_schema (version INTEGER NOT NULL PRIMARY KEY, "
        "applied_at VARCHAR(24) NOT NULL)",
        {}, deadline);
    current = SchemaVersion();
    if (current > known) {
      Fail(ServerError::Kind::kSchemaTooNew,
           "records of schema version " + std::to_string(current) +
               ", newer than this stbup knows (" + std::to_string(known) + ")");
    }
    for (const SchemaStep& step : steps) {
      if (step.version <= current) continue;
      // One statement at a time: parameters allow no more.
      for (std::string_view rest : {step.sql, step.server_sql}) {
        while (!rest.empty()) {
          const std::size_t end = rest.find(';');
          const std::string statement(rest.substr(0, end));
          rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
          if (statement.find_first_not_of(" \n\r\t") == std::string::npos) continue;
          Execute(statement, {}, deadline);
        }
      }
      Execute("INSERT INTO stbup_schema (version, applied_at) VALUES ($1::integer, $2)",
              {std::to_string(step.version), FormatUtcTimestamp(std::chrono::system_clock::now())},
              deadline);
    }
    Execute("COMMIT", {}, deadline);
  } catch (...) {
    if (PQstatus(conn_) == CONNECTION_OK) {
      try {
        Execute("ROLLBACK", {}, deadline);
      } catch (const ServerError&) {
        // The first failure is the one to say.
      }
    }
    throw;
  }
}

void ServerStore::Insert(const std::vector<BoxRecord>& records, Clock::time_point deadline) {
  if (records.empty()) return;
  std::string sql = "INSERT INTO box_records (" + std::string(RecordColumnList()) + ") VALUES ";
  std::vector<std::optional<std::string>> params;
  params.reserve(records.size() * kRecordColumnCount);
  for (std::size_t k = 0; k < records.size(); ++k) {
    sql += k == 0 ? "(" : ", (";
    for (int column = 0; column < kRecordColumnCount; ++column) {
      sql += column == 0 ? "$" : ", $";
      sql += std::to_string(params.size() + static_cast<std::size_t>(column) + 1);
      sql += kColumnCasts[column];
    }
    sql += ")";
    for (auto& text : ColumnTexts(records[k])) params.push_back(std::move(text));
  }
  // A record sent again (its confirmation lost with the link) is already
  // there and stays as it is.
  sql += " ON CONFLICT (record_id) DO NOTHING";
  Execute(sql, params, deadline);
}

void ServerStore::Query(const RecordFilter& filter,
                        const std::function<void(const BoxRecord&)>& each) {
  if (SchemaVersion() == 0) return;  // a database no record has reached yet
  std::string sql = "SELECT " + std::string(RecordColumnList()) + " FROM box_records WHERE TRUE";
  std::vector<std::optional<std::string>> params;
  const auto where = [&](const std::optional<std::string>& value, const std::string& column) {
    if (!value) return;
    params.push_back(*value);
    sql += " AND " + column + " = $" + std::to_string(params.size());
  };
  if (filter.since) {
    params.push_back(*filter.since);
    sql += " AND started_at >= $" + std::to_string(params.size());
  }
  if (filter.before) {
    params.push_back(*filter.before);
    sql += " AND started_at < $" + std::to_string(params.size());
  }
  where(filter.port, "port");
  if (filter.model) {
    params.push_back(*filter.model);
    const std::string n = std::to_string(params.size());
    sql += " AND (box_model = $" + n + " OR image_model = $" + n + ")";
  }
  if (filter.verdict) where(std::string(VerdictName(*filter.verdict)), "verdict");
  where(filter.station, "station");
  where(filter.operator_name, "operator_name");
  where(filter.work_order, "work_order");
  // Text ordering as the local file's, whatever the server's collation.
  sql += " ORDER BY started_at COLLATE \"C\", record_id COLLATE \"C\"";
  if (filter.limit) sql += " LIMIT " + std::to_string(*filter.limit);

  Result rows = Execute(sql, params, Clock::now() + std::chrono::seconds(kAnswerSeconds));
  const auto text = [&rows](int row, int column) -> std::string {
    return PQgetvalue(rows.get(), row, column);
  };
  const auto optional_text = [&](int row, int column) -> std::optional<std::string> {
    if (PQgetisnull(rows.get(), row, column) == 1) return std::nullopt;
    return text(row, column);
  };
  // A number the record may lack: left unset where the column is NULL.
  const auto optional_number = [&rows](int row, int column, auto& value) {
    if (PQgetisnull(rows.get(), row, column) == 1) return;
    typename std::remove_reference_t<decltype(value)>::value_type number{};
    ReadNumber(PQgetvalue(rows.get(), row, column), number);
    value = number;
  };
  const int count = PQntuples(rows.get());
  for (int row = 0; row < count; ++row) {
    BoxRecord r;
    int i = 0;
    r.record_id = text(row, i++);
    r.started_at = text(row, i++);
    r.ended_at = text(row, i++);
    r.station = text(row, i++);
    r.front_end = text(row, i++);
    r.port = text(row, i++);
    r.loader_kind = optional_text(row, i++);
    r.loader_version = optional_text(row, i++);
    optional_number(row, i++, r.flash_size);
    r.flash_chip = optional_text(row, i++);
    r.box_model = optional_text(row, i++);
    r.box_hw = optional_text(row, i++);
    r.box_sw = optional_text(row, i++);
    r.image_path = text(row, i++);
    optional_number(row, i++, r.image_size);
    r.image_sha256 = optional_text(row, i++);
    r.image_model = text(row, i++);
    r.image_hw = text(row, i++);
    r.image_sw = text(row, i++);
    r.image_type = text(row, i++);
    ReadNumber(PQgetvalue(rows.get(), row, i++), r.blocks_sent);
    ReadNumber(PQgetvalue(rows.get(), row, i++), r.blocks_retried);
    ReadNumber(PQgetvalue(rows.get(), row, i++), r.seconds);
    const std::string verdict = text(row, i++);
    const auto known = VerdictFromName(verdict);
    if (!known) Fail(ServerError::Kind::kRefused, "a record with the unknown verdict " + verdict);
    r.verdict = *known;
    ReadNumber(PQgetvalue(rows.get(), row, i++), r.exit_status);
    r.log_tail = text(row, i++);
    r.operator_name = optional_text(row, i++);
    r.work_order = optional_text(row, i++);
    each(r);
  }
}

}  // namespace stbup
