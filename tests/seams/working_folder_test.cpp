#include "seams/working_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace stbup {
namespace {

// The names the window logic opens by itself are taken from its own folder,
// never from wherever the process happens to be.
TEST(WorkingFolderTest, RelativeNamesAreTakenFromTheFolder) {
  const struct {
    std::string folder;
    std::string name;
    std::string opened;
  } cases[] = {
      {"/srv/images", "~temp_db.tdf", "/srv/images/~temp_db.tdf"},
      {"/srv/images", "box.bin", "/srv/images/box.bin"},
      {"/srv/images/", "box.tdf", "/srv/images/box.tdf"},
      {"/srv/images", "sub/box.bin", "/srv/images/sub/box.bin"},
      {"/srv/images", "/elsewhere/box.bin", "/elsewhere/box.bin"},
      {"", "box.bin", "box.bin"},  // no folder yet: as given
      {"/srv/images", "", ""},     // no name: nothing to open
  };
  for (const auto& test : cases) {
    EXPECT_EQ(WorkingFolder(test.folder).Resolve(test.name), test.opened)
        << test.folder << " " << test.name;
  }
}

}  // namespace
}  // namespace stbup
