#include "cli/version_text.h"

#include "records/records.h"

namespace stbup {

std::string VersionText() {
  std::string text = "stbup " STBUP_VERSION;
  if (const std::string libraries = RecordsLibraryVersions(); !libraries.empty()) {
    text += "\n" + libraries;
  }
  return text;
}

}  // namespace stbup
