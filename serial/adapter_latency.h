#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace stbup {

// A USB serial adapter holds what it receives until enough has gathered or
// its latency timer runs out (16 ms by default on FTDI chips). The box's
// replies are short, so each of its requests reaches the PC that much later.

// The timer found for a port at opening, and what to put back at close.
struct AdapterLatency {
  std::string adapter;            // the kernel's name (ttyUSB0), or the COM name
  std::optional<int> timer_ms;    // in force now; nothing: no timer known
  std::optional<int> restore_ms;  // lowered for the session: the value it had
};

// Where the platform keeps what it knows of adapters: on Linux the sysfs
// root; on Windows the key under HKEY_LOCAL_MACHINE where the FTDI driver
// lists its devices. Tests put fake trees in their place.
std::filesystem::path DefaultAdapterRoot();

// An FTDI adapter's latency timer in milliseconds: on Linux the sysfs
// latency_timer of the tty's device; on Windows the FTDI driver's
// LatencyTimer for the COM name. Nothing for an adapter without one.
std::optional<int> ReadLatencyTimer(const std::filesystem::path& root, const std::string& adapter);

// At opening: the timer of the adapter behind device (an open descriptor of
// path), lowered to 1 ms for the session where the platform lets the tool
// write it (Linux: a writable sysfs latency_timer above 1 ms).
// On Windows the timer is only read.
AdapterLatency LowerAdapterLatency(std::intptr_t device, const std::string& path,
                                   const std::filesystem::path& root);
// At close: the timer as it was before the session, where it was lowered.
void RestoreAdapterLatency(const AdapterLatency& latency, const std::filesystem::path& root);

// How to lower the timer for good on this platform.
std::string LowerLatencyAdvice();

// What an operator is told once when replies stay held: how long, what that
// costs a block at this rate, and how to lower the timer for good. Nothing
// where the timer is 1 ms or less, or unknown.
std::optional<std::string> AdapterLatencyWarning(std::string_view port, int timer_ms, int baudrate);

}  // namespace stbup
