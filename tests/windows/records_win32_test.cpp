// The records' Windows parts: where the file goes, what a path named for
// reading is, and the pending file's lock between runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "records/pending_records.h"
#include "records/record_database.h"
#include "records/records.h"
#include "records/records_file.h"
#include "tests/records/sample_records.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

using testing::SampleRecord;

// Sets or clears an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(old_); }

 private:
  void Set(const std::optional<std::string>& value) {
    // _putenv with "NAME=" removes the variable.
    const std::string assignment = std::string(name_) + "=" + value.value_or("");
    ::_putenv(assignment.c_str());
  }
  const char* name_;
  std::optional<std::string> old_;
};

TEST(RecordsWin32Test, TheVariableThenTheLocalApplicationData) {
  const struct {
    std::optional<std::string> records, local;
    std::string path;
  } cases[] = {
      {"D:\\line\\records.sqlite3", "C:\\Users\\op\\AppData\\Local", "D:\\line\\records.sqlite3"},
      {"", "C:\\Users\\op\\AppData\\Local",
       "C:\\Users\\op\\AppData\\Local\\stbup\\records.sqlite3"},
      {std::nullopt, "E:\\Local", "E:\\Local\\stbup\\records.sqlite3"},
  };
  for (const auto& test : cases) {
    ScopedEnv records("STBUP_RECORDS", test.records);
    ScopedEnv local("LOCALAPPDATA", test.local);
    EXPECT_EQ(DefaultRecordsPath(), test.path) << test.records.value_or("(unset)");
  }
  // Without the variable the shell's own folder for it is asked.
  ScopedEnv records("STBUP_RECORDS", std::nullopt);
  ScopedEnv local("LOCALAPPDATA", std::nullopt);
  const std::string asked = DefaultRecordsPath();
  EXPECT_FALSE(asked.empty());
  EXPECT_TRUE(asked.ends_with("\\stbup\\records.sqlite3")) << asked;
}

TEST(RecordsWin32Test, APathNamedForReadingIsLookedAtFirst) {
  TempDir dir;
  std::filesystem::create_directory(dir.PathOf("folder"));
  const std::string empty = dir.WriteFile("empty.sqlite3", std::string());
  const std::string text = dir.WriteFile("notes.txt", std::string("boxes of Monday\n"));
  const std::string short_file = dir.WriteFile("short.sqlite3", std::string("SQLite"));
  const std::string database =
      dir.WriteFile("records.sqlite3", std::string("SQLite format 3\0rest of page", 28));
  const struct {
    std::string path;
    std::optional<RecordsFileState> state;
    std::string said;  // the end of the error, when refused
  } cases[] = {
      {dir.PathOf("none.sqlite3"), RecordsFileState::kMissing, ""},
      {dir.PathOf("no-folder/records.sqlite3"), RecordsFileState::kMissing, ""},
      {empty, RecordsFileState::kReady, ""},
      {database, RecordsFileState::kReady, ""},
      {dir.PathOf("folder"), std::nullopt, ": not a records file: a folder"},
      {text, std::nullopt, ": not a records file: not an SQLite database"},
      {short_file, std::nullopt, ": not a records file: not an SQLite database"},
      {"NUL", std::nullopt, ": not a records file: a device"},
  };
  for (const auto& test : cases) {
    if (test.state) {
      EXPECT_EQ(CheckRecordsFile(test.path), *test.state) << test.path;
      continue;
    }
    try {
      CheckRecordsFile(test.path);
      ADD_FAILURE() << test.path << " was taken for a records file";
    } catch (const RecordsError& error) {
      EXPECT_EQ(std::string(error.what()), test.path + test.said);
    }
  }
}

// A file opened by another program without sharing it cannot be read: said
// with the system's reason, never taken for a missing file.
TEST(RecordsWin32Test, AFileHeldWithoutSharingIsSaidUnreadable) {
  TempDir dir;
  const std::string path = dir.WriteFile("records.sqlite3", std::string("SQLite format 3\0", 16));
  const HANDLE held =
      ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  try {
    CheckRecordsFile(path);
    ADD_FAILURE() << "read through another program's exclusive hold";
  } catch (const RecordsError& error) {
    EXPECT_TRUE(std::string(error.what()).starts_with(path + ": cannot be read: ")) << error.what();
  }
  ::CloseHandle(held);
}

// Runs appending while others take the file in: every record arrives once,
// in one of the takings or in what is left at the end, and no line is torn.
TEST(RecordsWin32Test, AppendersAndTakersShareThePendingFileRecordByRecord) {
  TempDir dir;
  const PendingRecords pending(dir.PathOf("records.sqlite3"));
  constexpr int kAppenders = 4;
  constexpr int kEach = 40;
  std::vector<std::vector<BoxRecord>> taken(2);
  std::vector<std::thread> threads;
  for (int a = 0; a < kAppenders; ++a) {
    threads.emplace_back([&dir, a] {
      // Each its own PendingRecords, as each run has.
      const PendingRecords mine(dir.PathOf("records.sqlite3"));
      for (int i = 0; i < kEach; ++i) {
        mine.Append({SampleRecord(a * 1000 + i, Verdict::kUpgraded)});
      }
    });
  }
  for (auto& bucket : taken) {
    threads.emplace_back([&pending, &bucket] {
      for (int i = 0; i < 20; ++i) {
        for (BoxRecord& record : pending.TakeAll()) bucket.push_back(std::move(record));
        ::Sleep(1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (BoxRecord& record : pending.TakeAll()) taken[0].push_back(std::move(record));
  std::set<std::string> ids;
  std::size_t count = 0;
  for (const auto& bucket : taken) {
    for (const BoxRecord& record : bucket) {
      ids.insert(record.record_id);
      ++count;
    }
  }
  EXPECT_EQ(count, std::size_t{kAppenders * kEach});
  EXPECT_EQ(ids.size(), std::size_t{kAppenders * kEach});
  EXPECT_FALSE(std::filesystem::exists(pending.Path()));
}

TEST(RecordsWin32Test, APendingPathThatIsAFolderIsRefusedAndSaid) {
  TempDir dir;
  const PendingRecords pending(dir.PathOf("records.sqlite3"));
  std::filesystem::create_directory(pending.Path());
  try {
    pending.Append({SampleRecord(1, Verdict::kUpgraded)});
    ADD_FAILURE() << "records appended to a folder";
  } catch (const RecordsError& error) {
    EXPECT_TRUE(
        std::string(error.what()).starts_with(pending.Path() + ": cannot keep records there: "))
        << error.what();
  }
  EXPECT_TRUE(std::filesystem::is_directory(pending.Path()));
}

// Paths come in the system's ANSI code page (the command line, the
// environment), SQLite takes UTF-8: a user folder named with an accent opens.
TEST(RecordsWin32Test, ARecordsFileInAFolderNamedWithAnAccentOpens) {
  TempDir dir;
  const std::filesystem::path folder = std::filesystem::path(dir.path()) / L"Jos\u00e9";
  ASSERT_NE(::CreateDirectoryW(folder.c_str(), nullptr), 0);
  const std::wstring wide = folder.wstring() + L"\\records.sqlite3";
  const int size = ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string path(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, path.data(), size, nullptr, nullptr);
  path.resize(std::strlen(path.c_str()));
  RecordDatabase(path, RecordDatabase::Mode::kWrite).Insert({SampleRecord(7, Verdict::kUpgraded)});
  EXPECT_NE(::GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
  const auto read = RecordDatabase(path, RecordDatabase::Mode::kRead).Query({});
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0], SampleRecord(7, Verdict::kUpgraded));
}

}  // namespace
}  // namespace stbup
