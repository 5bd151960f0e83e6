#include "seams/working_folder.h"

#include <filesystem>

namespace stbup {

std::string WorkingFolder::Resolve(const std::string& name) const {
  if (path_.empty() || name.empty() || std::filesystem::path(name).is_absolute()) return name;
  // A name the framework would take from the drive's root ("\x.bin") is no
  // folder's to prefix.
  if (name.front() == '/' || name.front() == '\\') return name;
  if (path_.back() == '/' || path_.back() == '\\') return path_ + name;
  return path_ + "/" + name;
}

}  // namespace stbup
