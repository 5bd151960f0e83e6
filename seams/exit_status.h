#pragma once

namespace stbup {

// Exit statuses of "stbup" and the figure a box's record keeps for how it
// ended: one set of numbers for every front end, defined here only.
inline constexpr int kExitOk = 0;
inline constexpr int kExitInternalError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitImageNotAccepted = 3;
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
