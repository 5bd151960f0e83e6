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
// "UPGRADE_SUCCESS" without a whole download, the total checksum and a
// successful flash check, or after a flash-write error or a bad flash CRC.
inline constexpr int kExitSuccessAfterFailure = 9;
// A station: at least one box ended otherwise than upgraded.
inline constexpr int kExitSomeBoxNotUpgraded = 10;
// Every box was upgraded, but the --log or --trace file could not be written
// whole (a full disk, /dev/full): the record of the run is incomplete.
inline constexpr int kExitRecordIncomplete = 11;
inline constexpr int kExitInterrupted = 130;

}  // namespace stbup
