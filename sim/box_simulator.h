#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/box_channel.h"
#include "sim/simulation_summary.h"
#include "sim/simulator_options.h"

namespace stbup {

// What the owner of the line lets the simulator do to it.
struct LineHooks {
  std::function<void()> on_first_contact;  // the tool has spoken (a pty releases its slave)
  std::function<void()> hang_up;           // close the line now; default: the channel's HangUp
};

// A boot loader on the box's end of a line: waits for the tool's 0x07 or 0x1F,
// leads the whole upgrade dialogue from the box's point of view, checks what
// it is sent, and reports one summary per box.
class BoxSimulator {
 public:
  // Reads the image file when options.image is set; throws EFileError when it
  // cannot.
  explicit BoxSimulator(SimulatorOptions options);
  ~BoxSimulator();
  BoxSimulator(const BoxSimulator&) = delete;
  BoxSimulator& operator=(const BoxSimulator&) = delete;

  // Plays options.repeat boxes, one after the other, on the channel
  // (blocking). The channel stays the caller's, except that the hang-up fault
  // closes it through the hook. Returns one summary per box that got its
  // wake-up byte.
  std::vector<SimulationSummary> Run(BoxChannel& channel, LineHooks hooks = {});
  // The same on a descriptor (Linux; sim/posix/fd_box_channel.cpp).
  std::vector<SimulationSummary> Run(int fd, LineHooks hooks = {});

  // Ends Run, the one in progress or the next, from any thread; on a
  // descriptor also from a signal handler (atomics and one write to an
  // eventfd).
  void Stop() noexcept;

  const SimulatorOptions& options() const { return options_; }
  // The announcement line without its line feed, e.g. "REQUEST_V217".
  std::string AnnouncementText() const;
  // The argument of REQUEST_VERSION: fields 1..3, model, software, hardware.
  std::string VersionArgument() const;

 private:
  class Session;

  SimulatorOptions options_;
  std::vector<std::uint8_t> image_file_;
  std::atomic<bool> stop_requested_{false};
  // The channel Run plays on, and how many Stop calls are using it: Run
  // waits for them before it lets go of the channel.
  std::atomic<BoxChannel*> running_{nullptr};
  std::atomic<int> stopping_{0};
};

}  // namespace stbup
