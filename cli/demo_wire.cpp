#include "cli/demo_wire.h"

#include "seams/memory_line.h"
#include "sim/memory_box_channel.h"

namespace stbup {
namespace {

class MemoryDemoWire : public DemoWire {
 public:
  MemoryDemoWire() {
    auto [tool, box] = OpenMemoryLine();
    tool_ = std::move(tool);
    box_ = std::move(box);
  }

  std::vector<SimulationSummary> PlayBox(BoxSimulator& box) override {
    MemoryBoxChannel channel(box_);
    return box.Run(channel);
  }

  void ConnectTool(UpgradeOptions& upgrade) override {
    upgrade.port = kMemoryLineName;
    upgrade.memory_line = tool_;
  }

  std::string Where() const override {
    return std::string(kMemoryLineName) + " (an in-memory line in this process)";
  }

 private:
  std::shared_ptr<MemoryLineEnd> tool_;
  std::shared_ptr<MemoryLineEnd> box_;
};

}  // namespace

std::unique_ptr<DemoWire> OpenMemoryDemoWire() { return std::make_unique<MemoryDemoWire>(); }

}  // namespace stbup
