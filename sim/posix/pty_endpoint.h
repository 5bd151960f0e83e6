#pragma once

#include <chrono>
#include <string>

namespace stbup {

// A fresh pseudo-terminal for the box: the simulator plays on the master, the
// tool opens the slave by its path. A raw-mode copy of the slave is held until
// ReleaseSlave, so nothing reads EIO or cooks bytes before the tool arrives.
class PtyEndpoint {
 public:
  PtyEndpoint();  // throws std::runtime_error with the system's reason
  ~PtyEndpoint();
  PtyEndpoint(const PtyEndpoint&) = delete;
  PtyEndpoint& operator=(const PtyEndpoint&) = delete;

  int master() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }

  // Drops the held slave copy, so that the tool closing its end reads as a
  // hang-up on the master. Safe to call more than once.
  void ReleaseSlave();
  // Closing the master throws away what the tool has not read yet: before the
  // box leaves, wait (dropping input) until the tool closes its end, at most
  // for the given time.
  void LingerUntilToolCloses(std::chrono::milliseconds at_most);
  // Closes the master now (the hang-up fault); idempotent.
  void CloseMaster();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
};

}  // namespace stbup
