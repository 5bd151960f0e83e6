#include "cli/posix/simulate_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "image/image_writer.h"
#include "tests/sim/scripted_pc.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

int Simulate(const std::vector<std::string>& args, std::string& out, std::string& err) {
  CommandRegistry registry("stbup");
  AddSimulateCommand(registry);
  std::ostringstream o, e;
  std::vector<std::string> all = {"simulate"};
  all.insert(all.end(), args.begin(), args.end());
  const int status = registry.Execute(all, o, e);
  out = o.str();
  err = e.str();
  return status;
}

TEST(SimulateCommand, HelpDocumentsEveryOption) {
  std::string out, err;
  EXPECT_EQ(Simulate({"--help"}, out, err), 0);
  for (const char* option : {"--link",
                             "--image",
                             "--out",
                             "--loader",
                             "--version",
                             "--mode-sentence",
                             "--flash-end",
                             "--flash-size",
                             "--flash-chip",
                             "--flash-record",
                             "--expect-token",
                             "--fields",
                             "--model",
                             "--hw",
                             "--sw",
                             "--reqdata",
                             "--decode-size",
                             "--bad-flash-crc",
                             "--restart-notice",
                             "--target-info",
                             "--flash-write-error",
                             "--database-ack",
                             "--max-retries",
                             "--ack-timeout",
                             "--token-timeout",
                             "--reply-timeout",
                             "--restart-gap",
                             "--power-on",
                             "--corrupt-block",
                             "--silent-after",
                             "--hangup-after",
                             "--noise",
                             "--chunked",
                             "--slow",
                             "--baud",
                             "--repeat",
                             "--seed",
                             "Exit status"}) {
    EXPECT_NE(out.find(option), std::string::npos) << option;
  }
}

TEST(SimulateCommand, RefusesBadValuesBeforeOpeningAPty) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  TempDir dir;
  const std::string refused = dir.WriteFile("refused.bin", std::string("ZUB2LL...."));
  for (const Case& c : {
           Case{{"--hw", "1.2"}, 2, "stbup: --hw is three hex bytes, e.g. 01.02.03\n"},
           Case{{"--loader", "x"}, 2, "stbup: --loader must be v, l or mode\n"},
           Case{{"--flash-chip", "27821"},
                2,
                "stbup: --flash-chip is two bytes in hexadecimal, e.g. 2782\n"},
           Case{{"--flash-record", "00"}, 2, "stbup: --flash-record needs 66 hex digits\n"},
           Case{{"--image", refused}, 3, "stbup: This File is not appropriate Image!\n"},
       }) {
    std::string out, err;
    EXPECT_EQ(Simulate(c.args, out, err), c.status) << c.args[0];
    EXPECT_EQ(err, c.message);
    EXPECT_EQ(out, "");
  }
}

TEST(SimulateCommand, PrintsTheSlavePathLinksItAndEndsWithTheSummary) {
  TempDir dir;
  ImageSpec recipe;
  recipe.model_name = "ABC";
  std::vector<std::uint8_t> payload(3000);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i);
  const std::string image = dir.PathOf("box.bin");
  WriteImageFile(image, recipe, payload);
  const std::string link = dir.PathOf("ttyBOX");

  std::string out, err;
  int status = -1;
  std::atomic<bool> done{false};
  std::thread command([&] {
    status = Simulate({"--image", image, "--link", link, "--flash-size", "0x11"}, out, err);
    done = true;
  });
  struct stat st {};
  for (int i = 0; i < 200 && ::lstat(link.c_str(), &st) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  testing::PcScript script;
  script.quiet_end = std::chrono::milliseconds(300);
  script.blocks = {std::vector<std::uint8_t>(payload.begin(), payload.begin() + 1024),
                   std::vector<std::uint8_t>(payload.begin() + 1024, payload.begin() + 2048),
                   std::vector<std::uint8_t>(payload.begin() + 2048, payload.end()),
                   std::vector<std::uint8_t>(1024, 0)};
  script.blocks[2].resize(1024, 0);
  std::string record;
  {
    testing::ScriptedPc pc(link);
    pc.Serve(script, done);
    record = pc.flash_record;
  }
  command.join();

  EXPECT_EQ(status, 0) << out << err;
  ASSERT_EQ(record.size(), 33u);
  EXPECT_EQ(record[4], '\x11');
  const std::size_t line_end = out.find('\n');
  ASSERT_NE(line_end, std::string::npos);
  EXPECT_TRUE(out.starts_with("/dev/pts/")) << out;
  const auto summary = nlohmann::json::parse(out.substr(line_end + 1));
  EXPECT_EQ(summary["verdict"], "verified");
  EXPECT_EQ(summary["loader"], "REQUEST_V217");
  EXPECT_EQ(summary["blocks"], 4);
  EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link outlives the run";
}

}  // namespace
}  // namespace stbup
