#pragma once

#include <fstream>
#include <memory>
#include <string>

#include "app/trace/trace_writer.h"

namespace stbup {

// STBUP_TRACE for a window: the trace file, its writer and the tee that feeds
// it alongside the window's own View. Times count from the opening.
class TraceFile {
 public:
  // Nothing when path is empty; a file that cannot be created is reported by
  // the returned object's IsOpen() and then records nothing.
  static std::unique_ptr<TraceFile> Open(const std::string& path, View& window_view);

  TraceFile(const std::string& path, View& window_view);
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  bool IsOpen() const { return file_.is_open(); }
  // The window's View with the trace beside it.
  View& Tee() { return tee_; }

 private:
  std::ofstream file_;
  TraceWriter writer_;
  TeeView tee_;
};

}  // namespace stbup
