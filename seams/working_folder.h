#pragma once

#include <string>

namespace stbup {

// The folder the window logic opens files relative to (the image, the
// database upload's "~temp_db.tdf"): set from the image at start-up, and a
// value of its own, so a process serving many ports never depends on the
// process's current directory.
class WorkingFolder {
 public:
  WorkingFolder() = default;
  explicit WorkingFolder(std::string path) : path_(std::move(path)) {}

  const std::string& Path() const { return path_; }
  // The name to open for name: an absolute name, or any name while no
  // folder is set, as it is; else the name within the folder.
  std::string Resolve(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace stbup
