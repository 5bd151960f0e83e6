#pragma once

#include <windows.h>

namespace stbup {

// The console control handler a SignalWatch installs (cli/win32/signal_watch.cpp),
// named here so tests can play the system's part: it is called on a thread of
// the system's with the event's kind, and for a closing console it returns only
// once the watch has ended or the system's grace is nearly spent.
BOOL WINAPI OnConsoleControl(DWORD kind);

}  // namespace stbup
