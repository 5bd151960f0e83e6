#include "app/qt/file_filter.h"

#include <gtest/gtest.h>
#include "tests/qt/support/qt_printers.h"

namespace stbup {
namespace {

TEST(FileFilter, DescriptionPatternPairsBecomeQtFilters) {
  struct Row {
    const char* given;
    const char* expected;
  };
  const Row rows[] = {
      {"*.bin (Binary File)|*.bin", "Binary File (*.bin)"},
      {"Binary File|*.bin", "Binary File (*.bin)"},
      {"Images|*.bin;*.img|All|*", "Images (*.bin *.img);;All (*)"},
      {"*.bin|*.bin", "*.bin (*.bin)"},
      {"|*.bin", "*.bin (*.bin)"},
      {"", ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(QtFileFilter(row.given).toStdString(), row.expected) << row.given;
  }
}

}  // namespace
}  // namespace stbup
