#pragma once

#include <functional>
#include <thread>

namespace stbup {

// A thread that never takes the process's signals: the command line waits for
// SIGINT and SIGTERM on a descriptor, and a helper thread started before it
// blocked them must not receive them and die of their default action.
std::thread StartSignalFreeThread(std::function<void()> body);

}  // namespace stbup
