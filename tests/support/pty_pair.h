#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace stbup::testing {

// A pseudo-terminal pair: the component under test opens the slave by its
// path, the test plays the far end on the master (non-blocking). The pair
// also keeps a descriptor of the slave so its termios can be inspected.
class PtyPair {
 public:
  PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;
  ~PtyPair();

  int master() const { return master_; }
  int slave() const { return slave_; }
  const std::string& slave_path() const { return slave_path_; }

  // The far end hangs up.
  void CloseMaster();
  void CloseSlave();

  void Write(std::string_view bytes);
  // Reads until count bytes came or the time-out passed.
  std::string Read(std::size_t count, std::chrono::milliseconds timeout);
  // Whatever the master has now, without waiting.
  std::string ReadAvailable();
  // Reads until the line has been quiet for the given time.
  std::string ReadUntilQuiet(std::chrono::milliseconds quiet);

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
};

}  // namespace stbup::testing
