#include "cli/demo_wire.h"

namespace stbup {

// Windows has no pseudo-terminal: the box plays on an in-memory line.
std::unique_ptr<DemoWire> OpenPlatformDemoWire() { return OpenMemoryDemoWire(); }

}  // namespace stbup
