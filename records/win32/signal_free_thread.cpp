#include "records/signal_free_thread.h"

namespace stbup {

// Windows has no signal masks: Ctrl-C, Ctrl-Break and a closed console reach
// the process through a handler thread the system starts, never the writer's.
std::thread StartSignalFreeThread(std::function<void()> body) {
  return std::thread(std::move(body));
}

}  // namespace stbup
