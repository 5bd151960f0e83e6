#include "records/record_writer.h"

#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "records/record_database.h"
#include "records/sha256.h"
#include "tests/records/sample_records.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace stbup {
namespace {

using testing::SampleRecord;

std::vector<BoxRecord> ReadAll(const std::string& path) {
  return RecordDatabase(path, RecordDatabase::Mode::kRead).Query({});
}

TEST(RecordWriterTest, WritesQueuedRecordsWithTheImagesDigestInAFreshFolder) {
  TempDir dir;
  const std::string image = dir.WriteFile("mx1.bin", std::string(5000, 'i'));
  const std::string path = dir.PathOf("new/folder/records.sqlite3");
  {
    RecordWriter writer(path);
    for (int k = 0; k < 3; ++k) {
      BoxRecord record = SampleRecord(k, Verdict::kUpgraded);
      record.image_path = image;
      record.image_size = 5000;
      writer.Append(record);
    }
    // An image that changed since the box's run is not vouched for.
    BoxRecord changed = SampleRecord(3, Verdict::kUpgraded);
    changed.image_path = image;
    changed.image_size = 4999;
    writer.Append(changed);
  }  // the destructor writes what is queued
  const std::vector<BoxRecord> got = ReadAll(path);
  ASSERT_EQ(got.size(), 4u);
  for (int k = 0; k < 3; ++k)
    EXPECT_EQ(got[static_cast<std::size_t>(k)].image_sha256, Sha256OfFile(image));
  EXPECT_EQ(got[3].image_sha256, std::nullopt);
}

TEST(RecordWriterTest, AStoreThatCannotBeWrittenIsSaidOnceAndAppendStillReturns) {
  TempDir dir;
  const std::string corrupt = dir.WriteFile("corrupt.sqlite3", std::string(4096, 'x'));
  for (const std::string& path : {corrupt, testing::UnwritableRecordsPath()}) {
    SCOPED_TRACE(path);
    RecordWriter writer(path);
    for (int k = 0; k < 5; ++k) writer.Append(SampleRecord(k, Verdict::kUpgraded));
    writer.Flush();
    const auto problem = writer.TakeProblem();
    ASSERT_TRUE(problem.has_value());
    EXPECT_NE(problem->find(path), std::string::npos) << *problem;
    writer.Append(SampleRecord(9, Verdict::kRefused));
    writer.Flush();
    EXPECT_EQ(writer.TakeProblem(), std::nullopt);
  }
  // The corrupt file is left as it was.
  EXPECT_EQ(std::filesystem::file_size(corrupt), 4096u);
}

TEST(RecordWriterTest, TwoProcessesWritingOneFileAtOnceLoseNothing) {
  TempDir dir;
  const std::string path = dir.PathOf("shared.sqlite3");
  const std::string tool =
      (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "record_writer_tool")
          .string();
  ASSERT_TRUE(std::filesystem::exists(tool)) << tool;
  std::vector<pid_t> children;
  for (const std::string tag : {"one", "two"}) {
    std::vector<std::string> args{tool, path, "500", tag};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = -1;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  std::set<std::string> ids;
  for (const BoxRecord& record : ReadAll(path)) ids.insert(record.record_id);
  EXPECT_EQ(ids.size(), 1000u);
  for (const std::string tag : {"one", "two"}) {
    for (const int k : {0, 250, 499}) {
      EXPECT_TRUE(ids.contains(tag + "-" + std::to_string(k))) << tag << " " << k;
    }
  }
}

}  // namespace
}  // namespace stbup
