#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace stbup {

// A serial thread that has handed a call to the main thread waits for its
// end. A block's handler is over within some tens of microseconds, sooner
// than a sleeping thread is woken on an idle CPU of a virtual machine; so the
// caller first watches the call's flag that long and sleeps only if it is
// still unset, which spares the main thread one wake-up of the caller per
// call. Watching pays only while the main thread can run beside the watcher:
// with one CPU it would hold back the very call it waits for. The watcher
// also gives its CPU up between looks to any thread waiting for it.

// Watches settled for a short while; true when it was seen set.
bool WatchBriefly(const std::atomic<bool>& settled);
// Watches for seen() to hold, as long; seen may take what it looks for (a
// lock) when it holds, and is not asked again after.
bool WatchBriefly(const std::function<bool()>& seen);

// The caller's whole wait: watches settled first where watch says so, then
// sleeps on changed until it is set. Whoever sets settled does so with mutex
// held and notifies changed after. Returns with mutex held.
std::unique_lock<std::mutex> AwaitSettled(const std::atomic<bool>& settled, bool watch,
                                          std::mutex& mutex, std::condition_variable& changed);

// Whether the calling thread may run on more than one CPU (the platform's
// part: loop/posix/, loop/win32/). Asked once, when a queue is made.
bool RunsOnSeveralCpus();

}  // namespace stbup
