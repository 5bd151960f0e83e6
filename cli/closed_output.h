#pragma once

#include <ostream>
#include <string_view>

namespace stbup {

// Standard output or error whose reader has gone (a pipe into head, a log
// viewer closed): with SIGPIPE ignored a write fails instead of ending the
// process. The first failure is said once on standard error, when that is
// still open, and the run goes on; nothing more is written to that stream.
class ClosedOutput {
 public:
  explicit ClosedOutput(std::ostream& err) : err_(err) {}

  // After a write to stream (named "standard output" or "standard error").
  // errno must still be the write's.
  void Check(std::ostream& stream, std::string_view name);
  bool OutputClosed() const { return out_said_; }

 private:
  std::ostream& err_;
  bool out_said_ = false;
  bool err_said_ = false;
};

}  // namespace stbup
