#include "cli/closed_output.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace stbup {

void ClosedOutput::Check(std::ostream& stream, std::string_view name) {
  if (stream.good()) return;
  bool& said = &stream == &err_ ? err_said_ : out_said_;
  if (said) return;
  said = true;
  const int error = errno;
  if (&stream == &err_ || !err_.good()) return;
  err_ << "stbup: " << name << " closed (" << (error != 0 ? std::strerror(error) : "write failed")
       << "): nothing more is written there; the run goes on\n";
  err_.flush();
}

}  // namespace stbup
