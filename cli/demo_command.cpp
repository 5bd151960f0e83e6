#include "cli/demo_command.h"

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <stdexcept>
#include <vector>

#include "cli/upgrade_command.h"
#include "image/check_code.h"
#include "image/image_reader.h"
#include "image/image_writer.h"
#include "sim/box_simulator.h"
#include "sim/pty_endpoint.h"

namespace stbup {
namespace {

constexpr std::size_t kDemoPayload = 0xC0000;  // 768 KiB: what a 1 Mbyte box takes

// The sample payload: a recognisable, non-repeating pattern.
std::vector<std::uint8_t> DemoPayload() {
  std::vector<std::uint8_t> bytes(kDemoPayload);
  std::uint32_t state = 0x5eed1234;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(state >> 16);
  }
  return bytes;
}

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "stbup-demo-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("Cannot create a temporary folder for the demo");
    }
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

int RunDemo(const DemoOptions& options, std::ostream& out, std::ostream& err) {
  TempFolder folder;
  const std::string image = folder.path() + "/demo.bin";
  ImageSpec recipe;
  recipe.format = ImageFileFormat::kNew;
  recipe.check_code = BuildImageCheckCode();
  recipe.model_name = "DEMO1";
  recipe.hardware_version = {0x01, 0x00, 0x02};
  recipe.software_version = {0x02, 0x38, 0x01};
  recipe.start_block = 16;
  WriteImageFile(image, recipe, DemoPayload());

  SimulatorOptions sim;
  sim.flash_record[4] = 0x11;  // 1 Mbyte, SST FLASH-1M
  sim.flash_record[5] = 0x27;
  sim.flash_record[6] = 0x81;
  sim.image = ReadImageInfo(image);
  sim.out_path = folder.path() + "/received.bin";

  PtyEndpoint pty;
  BoxSimulator box(sim);
  err << "stbup: demo: image " << image << ", simulated box on " << pty.slave_path() << '\n';
  auto boxes = std::async(std::launch::async, [&] {
    auto summaries =
        box.Run(pty.master(), LineHooks{[&] { pty.ReleaseSlave(); }, [&] { pty.CloseMaster(); }});
    return summaries;
  });

  UpgradeOptions upgrade;
  upgrade.image = image;
  upgrade.port = pty.slave_path();
  upgrade.quiet = options.quiet;
  upgrade.process_wide = options.process_wide;
  int status = RunUpgrade(upgrade, out, err);
  if (boxes.wait_for(std::chrono::seconds(3)) != std::future_status::ready) box.Stop();
  std::vector<SimulationSummary> summaries = boxes.get();

  if (summaries.empty()) {
    err << "stbup: demo: the simulated box was never woken\n";
    return status == kExitOk ? kExitInternalError : status;
  }
  const SimulationSummary& summary = summaries.front();
  err << "stbup: demo: simulator verdict: " << summary.verdict << " (" << summary.blocks
      << " blocks, " << summary.retries << " retries, " << summary.bytes << " bytes)\n";
  for (const auto& problem : summary.problems) err << "stbup: demo:   " << problem << '\n';
  if (status != kExitOk) return status;
  return summary.verdict == "verified" ? kExitOk : kExitInternalError;
}

void AddDemoCommand(CommandRegistry& registry) {
  auto options = std::make_shared<DemoOptions>();
  CLI::App* sub = registry.Add("demo", "A whole upgrade of a built-in image on the simulator",
                               [options](CommandIo& io) {
                                 DemoOptions run = *options;
                                 run.process_wide = true;
                                 return RunDemo(run, io.out, io.err);
                               });
  sub->add_flag("--quiet", options->quiet, "No memo lines and no progress");
}

}  // namespace stbup
