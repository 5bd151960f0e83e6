#include "cli/records_command.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <sstream>
#include <thread>

#include "cli/upgrade_command.h"
#include "image/image_reader.h"
#include "image/image_writer.h"
#include "records/record_database.h"
#include "records/record_uploader.h"
#include "records/record_writer.h"
#include "seams/memory_line.h"
#include "sim/box_simulator.h"
#include "sim/memory_box_channel.h"
#include "tests/records/sample_records.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;
using testing::SampleRecord;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

Result Records(const std::vector<std::string>& args) {
  ::unsetenv("STBUP_RECORDS_SERVER");
  CommandRegistry registry("stbup");
  AddRecordsCommand(registry);
  std::vector<std::string> all{"records"};
  all.insert(all.end(), args.begin(), args.end());
  std::ostringstream out, err;
  Result result;
  result.status = registry.Execute(all, out, err);
  result.out = out.str();
  result.err = err.str();
  return result;
}

// A 127.0.0.1 port: refusing (nothing listens) or silent (takes connections
// and never says a word, as a host that swallows a server's answers).
class Listener {
 public:
  explicit Listener(bool listening) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    if (!listening) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
    ::listen(fd_, 16);
    acceptor_ = std::thread([this] {
      std::vector<int> taken;
      while (!done_) {
        pollfd watched{fd_, POLLIN, 0};
        if (::poll(&watched, 1, 50) > 0) taken.push_back(::accept(fd_, nullptr, nullptr));
      }
      for (const int fd : taken) ::close(fd);
    });
  }
  ~Listener() {
    done_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  std::string Server() const {
    return "host=127.0.0.1 port=" + std::to_string(port_) + " dbname=line user=stbup";
  }
  std::string Shown() const {
    return "host=127.0.0.1 port=" + std::to_string(port_) + " dbname=line user=stbup";
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> done_ = false;
  std::thread acceptor_;
};

TEST(RecordsCommandTest, StatusAndPushSayWhatIsPendingAndWhy) {
  TempDir dir;
  const std::string path = dir.PathOf("records.sqlite3");
  Result missing = Records({"status", "--records", path});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "stbup: records: " + path + ": no records yet\n");

  RecordDatabase(path, RecordDatabase::Mode::kWrite)
      .Insert({SampleRecord(1, Verdict::kUpgraded), SampleRecord(2, Verdict::kRefused),
               SampleRecord(3, Verdict::kUpgraded)});
  Result status = Records({"status", "--records", path});
  EXPECT_EQ(status.status, 0);
  EXPECT_EQ(status.out, "records file: " + path +
                            "\n"
                            "server:       none\n"
                            "pending:      3\n"
                            "last batch:   never\n"
                            "last error:   none\n");

  Result no_server = Records({"push", "--records", path});
  EXPECT_EQ(no_server.status, 2);
  EXPECT_EQ(no_server.err,
            "stbup: no records server: give --records-server URL or set STBUP_RECORDS_SERVER\n");

  const Listener refusing(false);
  Result refused = Records({"push", "--records", path, "--records-server", refusing.Server()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "0 records sent to " + refusing.Shown() + ", 3 pending\n");
  EXPECT_EQ(refused.err.rfind("stbup: records: the line's server (" + refusing.Shown() +
                                  "): connection to server at \"127.0.0.1\"",
                              0),
            0u)
      << refused.err;
  EXPECT_EQ(refused.err.find('\n'), refused.err.size() - 1) << "said once: " << refused.err;

  // The failure is kept for the operator to read later.
  status = Records({"status", "--records", path});
  EXPECT_NE(status.out.find("server:       " + refusing.Shown() + "\n"), std::string::npos)
      << status.out;
  EXPECT_NE(status.out.find("pending:      3\n"), std::string::npos);
  EXPECT_NE(status.out.find("last error:   20"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("Connection refused"), std::string::npos) << status.out;
}

// A server that takes the connection and never answers holds neither the box
// nor the exit: the upgrade ends with its own status, says the server's
// problem once, and keeps the record pending.
TEST(RecordsCommandTest, AnExitAskedWhileARoundIsUnderWayWaitsOneBoundInAll) {
  TempDir dir;
  const Listener silent(true);
  const auto asked = [&] {
    RecordWriter writer(dir.PathOf("records.sqlite3"), silent.Server());
    writer.Append(SampleRecord(1, Verdict::kUpgraded));
    // The record is written and an ordinary round toward the silent server
    // is under way before the front end ends.
    std::this_thread::sleep_for(1500ms);
    const auto start = std::chrono::steady_clock::now();
    writer.Flush();
    return start;
  }();
  const auto took = std::chrono::steady_clock::now() - asked;
  EXPECT_LT(took, RecordUploader::kExitBound + 1s);
  EXPECT_EQ(
      RecordDatabase(dir.PathOf("records.sqlite3"), RecordDatabase::Mode::kRead).PendingCount(), 1);
}

TEST(RecordsCommandTest, AnUpgradeEndsWithinTheBoundWhenTheServerNeverAnswers) {
  TempDir dir;
  ImageSpec recipe;
  recipe.model_name = "MX1";
  recipe.hardware_version = {0x01, 0x02, 0x03};
  recipe.software_version = {0x04, 0x05, 0x06};
  recipe.start_block = 16;
  const std::string image = dir.PathOf("image.bin");
  std::vector<std::uint8_t> payload(0xC0000);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
  WriteImageFile(image, recipe, payload);

  SimulatorOptions sim;
  sim.image = ReadImageInfo(image);
  sim.ack_timeout_ms = 1000;
  sim.flash_record[4] = 0x11;
  sim.flash_record[6] = 0x81;
  auto [tool, box_end] = OpenMemoryLine();
  BoxSimulator box(sim);
  auto boxes = std::async(std::launch::async, [&box, end = box_end] {
    MemoryBoxChannel channel(end);
    return box.Run(channel);
  });
  const Listener silent(true);
  UpgradeOptions options;
  options.image = image;
  options.port = "MEMORY";
  options.memory_line = tool;
  options.out_is_terminal = false;
  options.err_is_terminal = false;
  options.quiet = true;  // no progress lines: what stderr holds is the server's problem alone
  options.records_file = dir.PathOf("records.sqlite3");
  options.records_target.server = silent.Server();
  options.records_target.operator_name = "Ana";
  options.records_target.station_name = "bench-A";
  std::ostringstream out, err;
  const auto start = std::chrono::steady_clock::now();
  const int status = RunUpgrade(options, out, err);
  const auto took = std::chrono::steady_clock::now() - start;
  if (boxes.wait_for(5s) != std::future_status::ready) box.Stop();
  boxes.get();

  EXPECT_EQ(status, 0) << err.str();
  EXPECT_EQ(err.str(), "stbup: records: the line's server (" + silent.Shown() +
                           "): no answer within 5 s of connecting\n");
  // The exchange itself takes well under a second on the in-memory line.
  EXPECT_LT(took, RecordUploader::kExitBound + 3s);
  RecordDatabase records(options.records_file, RecordDatabase::Mode::kRead);
  EXPECT_EQ(records.PendingCount(), 1);
  const auto got = records.Query({});
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].station, "bench-A");
  EXPECT_EQ(got[0].operator_name, "Ana");
  EXPECT_EQ(got[0].work_order, std::nullopt);
}

}  // namespace
}  // namespace stbup
