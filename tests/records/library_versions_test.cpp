#include <gtest/gtest.h>

#include <sqlite3.h>

#include <regex>
#include <string>

#include "records/records.h"

namespace stbup {
namespace {

TEST(LibraryVersionsTest, LibPqNumbersReadAsPeopleWriteThem) {
  const struct {
    int number;
    std::string text;
  } cases[] = {
      {150018, "15.18"}, {150000, "15.0"},  {100001, "10.1"},
      {170002, "17.2"},  {90624, "9.6.24"}, {90500, "9.5.0"},
  };
  for (const auto& test : cases) EXPECT_EQ(LibPqVersionText(test.number), test.text) << test.number;
}

// What --version names is the libraries this program was linked with.
TEST(LibraryVersionsTest, NamesTheLinkedLibraries) {
  const std::string said = RecordsLibraryVersions();
  EXPECT_TRUE(said.starts_with(std::string("SQLite ") + sqlite3_libversion() + ", libpq ")) << said;
  EXPECT_TRUE(std::regex_search(said, std::regex("^SQLite [0-9.]+, libpq [0-9]+\\.[0-9]+( |$)")))
      << said;
}

}  // namespace
}  // namespace stbup
