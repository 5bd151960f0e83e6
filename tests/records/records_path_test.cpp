#include <stdlib.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "records/records.h"

namespace stbup {
namespace {

// Sets or clears an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(RecordsPathTest, TheVariableThenTheDataDirectoryThenHome) {
  const struct {
    std::optional<std::string> records, data, home;
    std::string path;
  } cases[] = {
      {"/srv/line/records.sqlite3", "/data", "/home/op", "/srv/line/records.sqlite3"},
      {"", "/data", "/home/op", "/data/stbup/records.sqlite3"},
      {std::nullopt, "/data", "/home/op", "/data/stbup/records.sqlite3"},
      {std::nullopt, "relative/data", "/home/op", "/home/op/.local/share/stbup/records.sqlite3"},
      {std::nullopt, std::nullopt, "/home/op", "/home/op/.local/share/stbup/records.sqlite3"},
      {std::nullopt, std::nullopt, std::nullopt, ""},
  };
  for (const auto& test : cases) {
    ScopedEnv records("STBUP_RECORDS", test.records);
    ScopedEnv data("XDG_DATA_HOME", test.data);
    ScopedEnv home("HOME", test.home);
    EXPECT_EQ(DefaultRecordsPath(), test.path);
  }
}

}  // namespace
}  // namespace stbup
