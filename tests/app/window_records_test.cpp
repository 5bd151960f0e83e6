#include "app/core/window_records.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "app/core/memory_settings.h"

namespace stbup {
namespace {

using Strings = std::vector<std::string>;

TEST(WindowArgumentsTest, OptionsAndTheImageInAnyOrder) {
  struct Case {
    Strings arguments;
    std::string image;
    std::optional<std::string> station, operator_name, order;
  } cases[] = {
      {{}, "", {}, {}, {}},
      {{"box.bin"}, "box.bin", {}, {}, {}},
      {{"--station-name", "S7", "--operator", "Ana", "--order", "WO-12", "box.bin"},
       "box.bin",
       "S7",
       "Ana",
       "WO-12"},
      {{"box.bin", "--operator=Ana B", "--order="}, "box.bin", {}, "Ana B", ""},
      // A value may itself begin with dashes; the next argument is it.
      {{"--order", "--x", "a.bin"}, "a.bin", {}, {}, "--x"},
      // "--" ends the options: an image may be named like one.
      {{"--", "--order"}, "--order", {}, {}, {}},
      // The first plain argument is the image; later ones are ignored.
      {{"a.bin", "b.bin"}, "a.bin", {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    const WindowArguments parsed = ParseWindowArguments(c.arguments);
    EXPECT_EQ(parsed.image, c.image);
    EXPECT_EQ(parsed.station_name, c.station);
    EXPECT_EQ(parsed.operator_name, c.operator_name);
    EXPECT_EQ(parsed.work_order, c.order);
  }
}

TEST(WindowArgumentsTest, UnknownOptionsAndMissingValuesAreRefused) {
  const struct {
    Strings arguments;
    std::string said;
  } cases[] = {
      {{"--records-file", "x"}, "unknown option --records-file"},
      {{"--operator=a", "--help=1"}, "unknown option --help"},
      {{"box.bin", "--order"}, "--order needs a value"},
      {{"--station-name"}, "--station-name needs a value"},
  };
  for (const auto& c : cases) {
    try {
      ParseWindowArguments(c.arguments);
      ADD_FAILURE() << testing::PrintToString(c.arguments) << " was taken";
    } catch (const WindowUsageError& error) {
      EXPECT_EQ(error.what(), c.said);
    }
  }
}

// An absolute name on every platform: under a drive's root on Windows.
std::string Rooted(const std::string& rest) {
  return std::filesystem::absolute(std::filesystem::current_path().root_path() / rest).string();
}

class WindowRecordsTest : public testing::Test {
 protected:
  WindowRecords Choose(const WindowArguments& arguments = {}) {
    RecordsSurroundings surroundings;
    surroundings.environment = [this](const char* name) {
      const auto found = environment.find(name);
      return found == environment.end() ? std::string() : found->second;
    };
    surroundings.default_file = Rooted("home/op/.local/share/stbup/records.sqlite3");
    surroundings.host_name = "bench-pc";
    return ChooseWindowRecords(settings, arguments, surroundings);
  }

  void Save(const std::string& name, const std::string& value) {
    settings.keys[std::string(kRecordsKeyPath)][name] = value;
  }
  void SaveAll() {
    Save("File", Rooted("srv/line/records.sqlite3"));
    Save("Server", "host=db.line dbname=records");
    Save("StationName", "line-2");
    Save("Operator", "Bo");
    Save("WorkOrder", "WO-9");
  }

  MemorySettings settings;
  std::map<std::string, std::string> environment;
};

TEST_F(WindowRecordsTest, NothingSetGivesTheDefaults) {
  const WindowRecords chosen = Choose();
  EXPECT_EQ(chosen.file, Rooted("home/op/.local/share/stbup/records.sqlite3"));
  EXPECT_EQ(chosen.server, "");
  EXPECT_EQ(chosen.station_name, "bench-pc");
  EXPECT_EQ(chosen.operator_name, std::nullopt);
  EXPECT_EQ(chosen.work_order, std::nullopt);
  EXPECT_TRUE(chosen.problems.empty());
}

TEST_F(WindowRecordsTest, TheStoreSectionIsUsedWhereNothingElseSays) {
  SaveAll();
  const WindowRecords chosen = Choose();
  EXPECT_EQ(chosen.file, Rooted("srv/line/records.sqlite3"));
  EXPECT_EQ(chosen.server, "host=db.line dbname=records");
  EXPECT_EQ(chosen.station_name, "line-2");
  EXPECT_EQ(chosen.operator_name, "Bo");
  EXPECT_EQ(chosen.work_order, "WO-9");
  // The window's own three values are not where the section lives.
  EXPECT_FALSE(settings.keys.contains("\\SOFTWARE\\TAVOLINKS\\SOFTWAREUPGRADE_TZIP"));
  EXPECT_FALSE(settings.KeyOpen());
}

TEST_F(WindowRecordsTest, TheEnvironmentWinsOverTheStoreAndTheCommandLineOverBoth) {
  SaveAll();
  environment = {{"STBUP_RECORDS", Rooted("tmp/test.sqlite3")},
                 {"STBUP_RECORDS_SERVER", "host=127.0.0.1"},
                 {"STBUP_OPERATOR", "Cy"}};
  WindowRecords chosen = Choose();
  EXPECT_EQ(chosen.file, Rooted("tmp/test.sqlite3"));
  EXPECT_EQ(chosen.server, "host=127.0.0.1");
  EXPECT_EQ(chosen.operator_name, "Cy");

  WindowArguments arguments;
  arguments.station_name = "S1";
  arguments.operator_name = "Di";
  arguments.work_order = "WO-10";
  chosen = Choose(arguments);
  EXPECT_EQ(chosen.station_name, "S1");
  EXPECT_EQ(chosen.operator_name, "Di");
  EXPECT_EQ(chosen.work_order, "WO-10");

  // Given empty: none recorded, whatever else says; an empty station is the
  // host's, as on the command line.
  arguments = {};
  arguments.station_name = "";
  arguments.operator_name = "";
  arguments.work_order = "";
  chosen = Choose(arguments);
  EXPECT_EQ(chosen.station_name, "line-2");
  EXPECT_EQ(chosen.operator_name, std::nullopt);
  EXPECT_EQ(chosen.work_order, std::nullopt);
}

// The window moves into its image's folder at start-up; the writer opens
// the file later, so a relative name must not follow it there.
TEST_F(WindowRecordsTest, ARelativeFileIsTakenFromWhereTheWindowStarted) {
  environment["STBUP_RECORDS"] = "run/records.sqlite3";
  EXPECT_EQ(Choose().file, (std::filesystem::current_path() / "run" / "records.sqlite3").string());
  environment.clear();
  Save("File", "mine.sqlite3");
  EXPECT_EQ(Choose().file, (std::filesystem::current_path() / "mine.sqlite3").string());
}

TEST_F(WindowRecordsTest, AValueThatCannotBeReadIsSaidAndNotUsed) {
  Save("Server", "host=db.line");
  Save("Operator", "Bo");
  settings.non_text_values = {"Server"};
  const WindowRecords chosen = Choose();
  EXPECT_EQ(chosen.server, "");
  EXPECT_EQ(chosen.operator_name, "Bo");
  EXPECT_EQ(chosen.problems,
            Strings{"Invalid data type for 'Server' in the settings' records section"});
}

}  // namespace
}  // namespace stbup
