#pragma once

#include "cli/command_registry.h"

namespace stbup {

// Exit statuses of "stbup upgrade" and "stbup station" beyond the registry's
// (0 ok, 1 internal error, 2 usage, 3 image not accepted). A box's outcome is
// told with the same numbers.
inline constexpr int kExitPortNotOpened = 4;
inline constexpr int kExitRefused = 5;
inline constexpr int kExitNormalStart = 6;
inline constexpr int kExitPortGone = 7;
inline constexpr int kExitTimeout = 8;
// A station: at least one box ended otherwise than upgraded.
inline constexpr int kExitSomeBoxNotUpgraded = 10;
inline constexpr int kExitInterrupted = 130;

}  // namespace stbup
