#pragma once

#include <mutex>

namespace stbup {

// A re-entrant lock: the thread that holds it may take it again. Usable with
// std::lock_guard and std::condition_variable_any.
class TVaCriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }

  void lock() { Enter(); }
  void unlock() { Leave(); }

 private:
  std::recursive_mutex mutex_;
};

}  // namespace stbup
