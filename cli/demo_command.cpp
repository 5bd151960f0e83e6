#include "cli/demo_command.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <memory>
#include <random>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "cli/demo_wire.h"
#include "cli/signal_watch.h"
#include "cli/upgrade_command.h"
#include "image/check_code.h"
#include "image/image_reader.h"
#include "image/image_writer.h"
#include "sim/box_simulator.h"

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

// A folder of the demo's own under the system's temporary folder. The name
// is random and create_directory fails on one that exists, so two demos never
// share a folder.
class TempFolder {
 public:
  TempFolder() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device entropy;
    std::mt19937_64 random(
        (static_cast<std::uint64_t>(entropy()) << 32) ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 100; ++attempt) {
      char name[32];
      std::snprintf(name, sizeof name, "stbup-demo-%08llx",
                    static_cast<unsigned long long>(random() & 0xFFFFFFFFu));
      const std::filesystem::path candidate = base / name;
      std::error_code error;
      if (std::filesystem::create_directory(candidate, error)) {
        path_ = candidate;
        return;
      }
      if (error) break;  // not a name taken: the folder cannot be made at all
    }
    throw std::runtime_error("Cannot create a temporary folder for the demo");
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The upgrade makes the image's folder the current directory, as the window
// does; Windows does not remove a folder that is a current directory, so the
// demo's own is restored before its folder goes.
class KeepCurrentDirectory {
 public:
  KeepCurrentDirectory() : saved_(std::filesystem::current_path(error_)) {}
  ~KeepCurrentDirectory() {
    std::error_code ignored;
    if (!error_) std::filesystem::current_path(saved_, ignored);
  }

 private:
  std::error_code error_;
  std::filesystem::path saved_;
};

}  // namespace

int RunDemo(const DemoOptions& options, std::ostream& out, std::ostream& err) {
  TempFolder folder;
  KeepCurrentDirectory directory;
  const std::string image = (folder.path() / "demo.bin").string();
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
  sim.out_path = (folder.path() / "received.bin").string();

  std::unique_ptr<DemoWire> wire =
      options.memory_line ? OpenMemoryDemoWire() : OpenPlatformDemoWire();
  BoxSimulator box(sim);
  err << "stbup: demo: image " << image << ", simulated box on " << wire->Where() << '\n';
  auto boxes = std::async(std::launch::async, [&] {
    // Ctrl-C is the upgrade's to take (130), never the box's.
    if (options.process_wide) KeepInterruptionsFromThisThread();
    return wire->PlayBox(box);
  });
  // Should the upgrade throw, the box's thread is stopped before it is waited for.
  struct StopBox {
    BoxSimulator& box;
    ~StopBox() { box.Stop(); }
  } stop_box{box};

  UpgradeOptions upgrade;
  upgrade.image = image;
  wire->ConnectTool(upgrade);
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
  sub->add_flag("--memory-line", options->memory_line,
                "The box on an in-memory line instead of a pseudo-terminal (always so on "
                "Windows, which has none); the log names the port MEMORY");
}

}  // namespace stbup
