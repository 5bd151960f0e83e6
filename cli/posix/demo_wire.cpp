#include "cli/demo_wire.h"

#include "sim/posix/pty_endpoint.h"

namespace stbup {
namespace {

// The upgrade opens the pty's slave as it opens any serial device, so the
// demo runs through the serial component itself.
class PtyDemoWire : public DemoWire {
 public:
  std::vector<SimulationSummary> PlayBox(BoxSimulator& box) override {
    return box.Run(pty_.master(),
                   LineHooks{[this] { pty_.ReleaseSlave(); }, [this] { pty_.CloseMaster(); }});
  }
  void ConnectTool(UpgradeOptions& upgrade) override { upgrade.port = pty_.slave_path(); }
  std::string Where() const override { return pty_.slave_path(); }

 private:
  PtyEndpoint pty_;
};

}  // namespace

std::unique_ptr<DemoWire> OpenPlatformDemoWire() { return std::make_unique<PtyDemoWire>(); }

}  // namespace stbup
