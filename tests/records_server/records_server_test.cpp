// The line's records on a real PostgreSQL server, started for this program.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "cli/history_command.h"
#include "records/record_database.h"
#include "records/record_uploader.h"
#include "records/record_writer.h"
#include "records/records.h"
#include "records/server_store.h"
#include "tests/records/sample_records.h"
#include "tests/records_server/postgres_server.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace stbup {
namespace {

using testing::PostgresServer;
using testing::SampleRecord;

PostgresServer* server = nullptr;

class ServerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (PostgresServer::Unavailable()) return;
    server_ = std::make_unique<PostgresServer>();
    server = server_.get();
  }
  void TearDown() override {
    server = nullptr;
    server_.reset();
  }

 private:
  std::unique_ptr<PostgresServer> server_;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new ServerEnvironment);

class RecordsServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto reason = PostgresServer::Unavailable()) GTEST_SKIP() << *reason;
    ASSERT_NE(server, nullptr);
    static int databases = 0;
    database = "line" + std::to_string(++databases);
    url = server->CreateDatabase(database);
    server->SetPassword(PostgresServer::kPassword);
  }

  std::int64_t ServerCount(const std::string& where = "TRUE") {
    return std::stoll(
        server->Sql(database, "SELECT COUNT(*) FROM box_records WHERE " + where).at(0));
  }
  std::int64_t Pending() { return ReadUploadStatus(path).pending; }

  // Records written straight into the local file, none of them sent yet.
  void WriteLocally(int count, const std::string& tag) {
    std::vector<BoxRecord> records;
    for (int k = 0; k < count; ++k) {
      BoxRecord record = SampleRecord(k, k % 2 == 0 ? Verdict::kUpgraded : Verdict::kRefused);
      record.record_id = tag + "-" + std::to_string(k);
      records.push_back(record);
    }
    RecordDatabase(path, RecordDatabase::Mode::kWrite).Insert(records);
  }

  TempDir dir;
  const std::string path = dir.PathOf("records.sqlite3");
  std::string database;
  std::string url;
};

TEST_F(RecordsServerTest, UpgradedAndRefusedBoxesArriveWithEveryField) {
  BoxRecord upgraded = SampleRecord(1, Verdict::kUpgraded);
  upgraded.box_model = "M\xC3\xA9X";  // a box's byte 0xE9, kept as U+00E9
  upgraded.image_sha256 = std::string(64, 'c');
  upgraded.operator_name = "Ana";
  upgraded.work_order = "WO-77";
  upgraded.seconds = 0.1;  // no exact binary form: must arrive unrounded
  // A box's version fields are 32 bits: longer than the column's size, which
  // SQLite never enforced and the server must not either.
  upgraded.box_sw = "FFFFFFFF.FFFFFFFF.FFFFFFFF";
  BoxRecord refused = SampleRecord(2, Verdict::kRefused);
  refused.log_tail = "0003 Block Retry\nUpgrade Fail";
  refused.loader_kind.reset();
  refused.flash_size.reset();
  refused.box_model.reset();
  refused.image_size.reset();
  {
    RecordWriter writer(path, url);
    writer.Append(upgraded);
    writer.Append(refused);
    writer.Flush();
    EXPECT_EQ(writer.TakeProblem(), std::nullopt);
  }
  std::vector<BoxRecord> got;
  ReadServerRecords(url, {}, [&got](const BoxRecord& record) { got.push_back(record); });
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], upgraded);
  EXPECT_EQ(got[1], refused);
  EXPECT_EQ(got, ReadRecords(path, {}));
  EXPECT_EQ(Pending(), 0);
  const UploadStatus status = ReadUploadStatus(path);
  EXPECT_TRUE(status.last_batch_at.has_value());
  EXPECT_EQ(status.last_error, std::nullopt);
  // The server's schema is the file's, with its version table.
  EXPECT_EQ(server->Sql(database, "SELECT MAX(version) FROM stbup_schema").at(0), "2");
}

TEST_F(RecordsServerTest, ServerDownThenUpEveryRecordArrivesExactlyOnce) {
  server->Stop();
  {
    RecordWriter writer(path, url);
    for (int k = 0; k < 30; ++k) writer.Append(SampleRecord(k, Verdict::kUpgraded));
    writer.Flush();
    const auto problem = writer.TakeProblem();
    ASSERT_TRUE(problem.has_value());
    EXPECT_EQ(problem->rfind("the line's server (host=127.0.0.1 port=", 0), 0u) << *problem;
    EXPECT_NE(problem->find("Connection refused; Is the server running"), std::string::npos)
        << *problem;
    EXPECT_EQ(problem->find(PostgresServer::kPassword), std::string::npos) << *problem;
  }
  EXPECT_EQ(Pending(), 30);
  EXPECT_TRUE(ReadUploadStatus(path).last_error.has_value());
  server->Start();

  // records push sends them all; a second push has nothing to send.
  PushResult pushed = PushRecords(path, url);
  EXPECT_EQ(pushed.sent, 30);
  EXPECT_EQ(pushed.pending, 0);
  EXPECT_TRUE(pushed.problems.empty());
  EXPECT_EQ(PushRecords(path, url).sent, 0);
  EXPECT_EQ(ServerCount(), 30);

  // The next run sends what an earlier one left, with no box of its own.
  server->Stop();
  {
    RecordWriter writer(path, url);
    for (int k = 30; k < 40; ++k) writer.Append(SampleRecord(k, Verdict::kRefused));
    writer.Flush();
  }
  EXPECT_EQ(Pending(), 10);
  server->Start();
  {
    RecordWriter writer(path, url);
    writer.Flush();
    EXPECT_EQ(writer.TakeProblem(), std::nullopt);
  }
  EXPECT_EQ(Pending(), 0);
  EXPECT_EQ(ServerCount(), 40);
  EXPECT_EQ(server->Sql(database, "SELECT COUNT(DISTINCT record_id) FROM box_records").at(0), "40");
}

TEST_F(RecordsServerTest, BackendKilledMidBatchLosesAndDoublesNothing) {
  WriteLocally(3000, "kill");
  std::atomic<bool> done = false;
  int kills = 0;
  // A handful of kills, spread over the pushes, each wherever a batch is.
  std::thread killer([&] {
    while (!done && kills < 8) {
      const auto killed = server->Sql(
          "postgres",
          "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = "
          "'stbup' AND datname = '" +
              database + "'");
      kills += static_cast<int>(killed.size());
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  });
  // Pushes until all is sent; each push ends at the first lost link.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (Pending() > 0 && std::chrono::steady_clock::now() < give_up) PushRecords(path, url);
  done = true;
  killer.join();
  EXPECT_GT(kills, 0) << "no backend was killed: the test proves nothing";
  EXPECT_EQ(Pending(), 0);
  EXPECT_EQ(ServerCount(), 3000);
  EXPECT_EQ(server->Sql(database, "SELECT COUNT(DISTINCT record_id) FROM box_records").at(0),
            "3000");
}

// A host that takes the connection and never says a word: the writer's end
// (a front end's exit) still comes within the documented bound.
TEST_F(RecordsServerTest, SilentListenerKeepsTheExitWithinItsBound) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 16), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
  std::atomic<bool> done = false;
  std::thread acceptor([&] {
    std::vector<int> taken;
    while (!done) {
      pollfd watched{listener, POLLIN, 0};
      if (::poll(&watched, 1, 50) > 0) taken.push_back(::accept(listener, nullptr, nullptr));
    }
    for (const int fd : taken) ::close(fd);
  });
  const std::string silent =
      "host=127.0.0.1 port=" + std::to_string(ntohs(address.sin_port)) + " dbname=line user=x";
  const auto start = std::chrono::steady_clock::now();
  {
    RecordWriter writer(path, silent);
    writer.Append(SampleRecord(1, Verdict::kUpgraded));
    writer.Flush();
    const auto problem = writer.TakeProblem();
    ASSERT_TRUE(problem.has_value());
    EXPECT_NE(problem->find("no answer"), std::string::npos) << *problem;
  }
  const auto took = std::chrono::steady_clock::now() - start;
  done = true;
  acceptor.join();
  ::close(listener);
  EXPECT_LT(took, RecordUploader::kExitBound + std::chrono::seconds(2));
  EXPECT_EQ(Pending(), 1);
}

TEST_F(RecordsServerTest, EightStationsAtOnceMakeEveryRowOnce) {
  const std::string tool = RECORD_WRITER_TOOL;
  ASSERT_TRUE(std::filesystem::exists(tool)) << tool;
  std::vector<pid_t> children;
  for (int station = 0; station < 8; ++station) {
    const std::string tag = "st" + std::to_string(station);
    std::vector<std::string> args{tool, dir.PathOf(tag + ".sqlite3"), "500", tag, url};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = -1;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  EXPECT_EQ(ServerCount(), 4000);
  EXPECT_EQ(server->Sql(database, "SELECT COUNT(DISTINCT record_id) FROM box_records").at(0),
            "4000");
  EXPECT_EQ(ServerCount("station = 'st7'"), 500);
}

TEST_F(RecordsServerTest, WrongPasswordSaidOnceThenPushedWhenCorrected) {
  server->SetPassword("not-the-password");
  {
    RecordWriter writer(path, url);
    writer.Append(SampleRecord(1, Verdict::kUpgraded));
    writer.Flush();
    writer.Append(SampleRecord(2, Verdict::kUpgraded));
    writer.Flush();
    const auto problem = writer.TakeProblem();
    ASSERT_TRUE(problem.has_value());
    EXPECT_NE(problem->find("password authentication failed"), std::string::npos) << *problem;
    EXPECT_EQ(problem->find("not-the-password"), std::string::npos) << *problem;
    EXPECT_EQ(writer.TakeProblem(), std::nullopt);  // the same cause, said once
  }
  EXPECT_EQ(Pending(), 2);
  server->SetPassword(PostgresServer::kPassword);
  const PushResult pushed = PushRecords(path, url);
  EXPECT_EQ(pushed.sent, 2);
  EXPECT_EQ(ServerCount(), 2);
}

TEST_F(RecordsServerTest, NewerServerSchemaIsRefusedAndRecordsStayPending) {
  WriteLocally(3, "new");
  ServerStore(url, ServerStore::Mode::kWrite, ServerStore::Clock::now() + std::chrono::seconds(5));
  server->Sql(database, "INSERT INTO stbup_schema VALUES (99, '2030-01-01T00:00:00.000Z')");
  const PushResult pushed = PushRecords(path, url);
  EXPECT_EQ(pushed.sent, 0);
  EXPECT_EQ(pushed.pending, 3);
  ASSERT_EQ(pushed.problems.size(), 1u);
  EXPECT_NE(pushed.problems[0].find("schema version 99, newer than this stbup knows (2)"),
            std::string::npos)
      << pushed.problems[0];
  EXPECT_EQ(ServerCount(), 0);
  EXPECT_THROW(ReadServerRecords(url, {}, [](const BoxRecord&) {}), RecordsError);
}

TEST_F(RecordsServerTest, HistoryReadsTheServerWithTheFilesFilters) {
  std::vector<BoxRecord> records;
  for (int k = 0; k < 6; ++k) {
    BoxRecord record = SampleRecord(k, k == 4 ? Verdict::kRefused : Verdict::kUpgraded);
    record.station = k < 3 ? "line-a" : "line-b";
    record.operator_name = k % 2 == 0 ? std::optional<std::string>("Ana") : std::nullopt;
    records.push_back(record);
  }
  RecordDatabase(path, RecordDatabase::Mode::kWrite).Insert(records);
  ASSERT_EQ(PushRecords(path, url).pending, 0);
  const auto history = [&](HistoryOptions options) {
    std::ostringstream out, err;
    CommandIo io{out, err};
    EXPECT_EQ(RunHistory(options, io), 0) << err.str();
    return out.str();
  };
  const struct {
    std::string station, verdict, operator_name;
    bool csv;
  } cases[] = {{"", "", "", false},
               {"line-b", "", "", false},
               {"line-b", "refused", "", false},
               {"", "", "Ana", false},
               {"line-a", "", "", true}};
  for (const auto& test : cases) {
    HistoryOptions from_file;
    from_file.records_file = path;
    from_file.station_name = test.station;
    from_file.verdict = test.verdict;
    from_file.operator_name = test.operator_name;
    from_file.csv = test.csv;
    HistoryOptions from_server = from_file;
    from_server.records_file.clear();
    from_server.server = url;
    const std::string want = history(from_file);
    EXPECT_FALSE(want.empty());
    EXPECT_EQ(history(from_server), want) << test.station << " " << test.verdict;
  }
}

}  // namespace
}  // namespace stbup
