#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/upgrade_command.h"
#include "sim/box_simulator.h"

namespace stbup {

// What carries the demo's bytes between the simulated box and the upgrade:
// a pseudo-terminal on Linux, which the upgrade opens as any serial device,
// or an in-memory line, which it uses as its port.
class DemoWire {
 public:
  virtual ~DemoWire() = default;

  // The box's side, on the demo's box thread.
  virtual std::vector<SimulationSummary> PlayBox(BoxSimulator& box) = 0;
  // The tool's side: the port (and line) the upgrade uses.
  virtual void ConnectTool(UpgradeOptions& upgrade) = 0;
  // Where the box is, as the demo's first line says it, e.g. "/dev/pts/3".
  virtual std::string Where() const = 0;
};

// The port name an in-memory line shows in the log ("MEMORY Off !!!").
inline constexpr const char* kMemoryLineName = "MEMORY";

std::unique_ptr<DemoWire> OpenMemoryDemoWire();
// The platform's own: a pseudo-terminal on Linux (cli/posix/), the in-memory
// line on Windows, which has none (cli/win32/).
std::unique_ptr<DemoWire> OpenPlatformDemoWire();

}  // namespace stbup
