#include "app/trace/trace_file.h"

namespace stbup {

std::unique_ptr<TraceFile> TraceFile::Open(const std::string& path, View& window_view) {
  if (path.empty()) return nullptr;
  return std::make_unique<TraceFile>(path, window_view);
}

// The writer's own clock starts with it, that is with the file.
TraceFile::TraceFile(const std::string& path, View& window_view)
    : file_(path, std::ios::binary | std::ios::trunc), writer_(file_), tee_(window_view, writer_) {}

}  // namespace stbup
