#pragma once

#include <chrono>
#include <functional>

namespace stbup {

// Runs the window's event loop (a nested one, as a test or a modal box does)
// until done() holds or limit has passed; done() is asked every few
// milliseconds, on the window's thread. Returns done().
bool RunUntil(const std::function<bool()>& done,
              std::chrono::milliseconds limit = std::chrono::seconds(5));

}  // namespace stbup
