#pragma once

// "stbup upgrade" run in-process against the box simulator on a fresh pty,
// with what it printed, its status, the simulator's summaries and the times
// that the fault tests measure.

#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/upgrade_command.h"
#include "image/image_reader.h"
#include "image/image_writer.h"
#include "sim/box_simulator.h"
#include "sim/posix/pty_endpoint.h"
#include "tests/support/temp_dir.h"

namespace stbup::testing {

using Clock = std::chrono::steady_clock;

// A small DATABASE image with a recognisable payload: the flash-size guard
// holds CODE images to the flash's own size, which would make every run long.
inline std::string WriteSmallImage(const TempDir& dir, std::size_t payload_size,
                                   const std::string& name = "box.bin") {
  ImageSpec recipe;
  recipe.type_letter = 'D';
  recipe.model_name = "ABC";
  recipe.check_code = "kestrelowl";
  recipe.start_block = 16;
  recipe.hardware_version = {0x01, 0x02, 0x03};
  recipe.software_version = {0x0A, 0x0B, 0x0C};
  std::vector<std::uint8_t> payload(payload_size);
  for (std::size_t i = 0; i < payload.size(); ++i) {
    payload[i] = static_cast<std::uint8_t>(i * 7 + i / 1024);
  }
  const std::string path = dir.PathOf(name);
  WriteImageFile(path, recipe, payload);
  return path;
}

// CPU seconds (user + system) of this process so far.
inline double ProcessCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct UpgradeRun {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<SimulationSummary> boxes;
  double seconds = 0;      // the whole run of the tool
  double cpu_seconds = 0;  // of this process while the tool ran
  // When the simulator hung up, and how long the tool took to end after it.
  std::optional<Clock::time_point> hung_up_at;
  double seconds_after_hang_up = 0;
};

// Plays the simulated box(es) on a pty and runs the tool on its slave until
// the tool ends; the simulator is stopped then if it is still waiting.
inline UpgradeRun RunAgainstSimulator(const std::string& image_path, SimulatorOptions sim,
                                      UpgradeOptions tool = {}) {
  sim.image = ReadImageInfo(image_path);
  sim.flash_record[4] = 0x11;  // 1 Mbyte, SST FLASH-1M: a small image is meant for it
  sim.flash_record[6] = 0x81;
  PtyEndpoint pty;
  BoxSimulator simulator(sim);
  UpgradeRun run;
  LineHooks hooks;
  hooks.on_first_contact = [&pty] { pty.ReleaseSlave(); };
  hooks.hang_up = [&pty, &run] {
    run.hung_up_at = Clock::now();
    pty.CloseMaster();
  };
  std::thread box([&] { run.boxes = simulator.Run(pty.master(), hooks); });

  tool.image = image_path;
  if (tool.settings_file.empty()) tool.settings_file = image_path + ".none.ini";
  if (tool.timeout_seconds == 0) tool.timeout_seconds = 30;  // a test that goes wrong still ends
  tool.port = pty.slave_path();
  tool.out_is_terminal = false;
  tool.err_is_terminal = false;
  std::ostringstream out;
  std::ostringstream err;
  const double cpu_before = ProcessCpuSeconds();
  const auto started = Clock::now();
  run.status = RunUpgrade(tool, out, err);
  const auto ended = Clock::now();
  run.cpu_seconds = ProcessCpuSeconds() - cpu_before;
  simulator.Stop();
  box.join();
  run.seconds = std::chrono::duration<double>(ended - started).count();
  if (run.hung_up_at) {
    run.seconds_after_hang_up = std::chrono::duration<double>(ended - *run.hung_up_at).count();
  }
  run.out = out.str();
  run.err = err.str();
  return run;
}

inline int CountLines(const std::string& text, const std::string& line) {
  int count = 0;
  std::istringstream in(text);
  for (std::string got; std::getline(in, got);) count += got == line ? 1 : 0;
  return count;
}

}  // namespace stbup::testing
