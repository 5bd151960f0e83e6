#include <unistd.h>

#include <fstream>

#include "tests/protocol/download_fixture.h"

namespace stbup {
namespace {

TEST(UploadFileNameTest, FolderAndBaseNameWithTdf) {
  const std::pair<std::string, std::string> cases[] = {
      {"/img/main.old.bin", "/img/main.tdf"},
      {"box.bin", "box.tdf"},
      {"/img/box", "/img/box.tdf"},
      {"", "~temp_db.tdf"},
      {"/img.v2/box", "/img.v2/box.tdf"},
      {"/img.v2/box.bin", "/img.v2/box.tdf"},
      {"D:\\fw\\box.bin", "D:\\fw\\box.tdf"},
      {"D:\\fw\\box", "D:\\fw\\box.tdf"},
      {"C:\\images\\main.old.bin", "C:\\images\\main.tdf"},
      {"/img/ box .bin", "/img/box.tdf"},
      {" box.bin", "box.tdf"},
      {"/img/", "/img/.tdf"},
  };
  for (const auto& [image_name, upload_name] : cases) {
    EXPECT_EQ(UploadFileNameFor(image_name), upload_name) << image_name;
  }
}

using DatabaseTest = DownloadTest;

TEST_F(DatabaseTest, GeometryByFlashSize) {
  struct Case {
    std::uint8_t flash_size;
    std::int32_t start, count;
    std::uint32_t upload_start;
  };
  const Case cases[] = {{0, 768, 192, 768},
                        {1, 1024, 256, 1024},
                        {2, 1024, 256, 1024},
                        {4, 16, 768, 5},
                        {8, 16, 768, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.flash_size));
    image.ImageFileName = dir.PathOf("main.bin");
    image.StartBlock = 16;
    image.BlockCount = 768;
    engine.State().UploadStartBlock = 5;
    engine.State().TargetFlashSize = c.flash_size;
    link.ClearWrites();
    Line("ack");
    EXPECT_EQ(image.StartBlock, c.start);
    EXPECT_EQ(image.BlockCount, c.count);
    EXPECT_EQ(engine.State().UploadStartBlock, c.upload_start);
    EXPECT_EQ(link.Wire(),
              "REQUEST_DOWNLOAD\nREQUEST_1024DOWN:" + FormatBlockNumber(c.upload_start) + "\n");
    EXPECT_EQ(Line("REQUEST_START_BLOCK"), FormatBlockNumber(c.start));
  }
}

TEST_F(DatabaseTest, RequestLinesAreSeparateWrites) {
  image.ImageFileName = dir.PathOf("main.old.bin");
  Line("ack");
  using K = RecordingLink::Kind;
  EXPECT_EQ(link.writes, (std::vector<RecordingLink::Write>{{K::kText, "REQUEST_DOWNLOAD"},
                                                            {K::kChar, "\n"},
                                                            {K::kText, "REQUEST_1024DOWN:"},
                                                            {K::kText, "0768"},
                                                            {K::kChar, "\n"}}));
  EXPECT_EQ(engine.State().UploadFileName, dir.PathOf("main.tdf"));
  EXPECT_TRUE(engine.State().UploadStream.IsOpen());
  EXPECT_EQ(NewMemo(), Lines{"-. Database request into " + dir.PathOf("main.tdf")});
}

TEST_F(DatabaseTest, ASecondAckAsksAgainIntoTheSameFile) {
  image.ImageFileName = dir.PathOf("box.bin");
  Line("ack");
  Line("ack");
  EXPECT_EQ(link.Wire(),
            "REQUEST_DOWNLOAD\nREQUEST_1024DOWN:0768\n"
            "REQUEST_DOWNLOAD\nREQUEST_1024DOWN:0768\n");
  EXPECT_EQ(NewMemo(), (Lines{"-. Database request into " + dir.PathOf("box.tdf"),
                              "-. Database request into " + dir.PathOf("box.tdf")}));
  EXPECT_EQ(::access(dir.PathOf("box-2.tdf").c_str(), F_OK), -1);
  engine.CloseFiles();
  EXPECT_FALSE(engine.State().UploadStream.IsOpen());
}

TEST_F(DatabaseTest, CheckOnlySendsAndCreatesNothing) {
  image.ImageFileName = dir.PathOf("box.bin");
  engine.SetCheckOnly(true);
  Line("ack");
  EXPECT_EQ(link.Wire(), "");
  EXPECT_EQ(NewMemo(),
            Lines{">> check-only: the box's database request (\"ack\") is not answered"});
  EXPECT_EQ(::access(dir.PathOf("box.tdf").c_str(), F_OK), -1);
  EXPECT_EQ(image.StartBlock, 16);
}

// The geometry answers after "ack" report the database region; a download
// the box then starts is not sent there.
TEST_F(DatabaseTest, TheImageNeverGoesIntoTheDatabaseRegion) {
  UseImage(PatternPayload(3000), false, false);
  engine.State().TargetFlashSize = 0;
  Line("ack");
  EXPECT_EQ(Line("REQUEST_START_BLOCK"), "0768");
  EXPECT_EQ(Line("REQUEST_BLOCK"), "0192");
  NewMemo();
  Line("REQUEST_DOWNLOAD");
  EXPECT_EQ(NewMemo(),
            Lines{">> The box asks for a download into its database region: nothing is sent"});
  EXPECT_EQ(Line("REQUEST_1024DOWN:0768"), "");
  EXPECT_EQ(Line("REQUEST_1024DOWN"), "");
  EXPECT_NE(view.logo, "Downloading...");
  EXPECT_FALSE(engine.WholeRegionDownloaded());
}

TEST_F(DatabaseTest, NoImageNameUsesTheCurrentDirectory) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  image.ImageFileName.clear();
  Line("ack");
  engine.CloseFiles();
  EXPECT_EQ(access((dir.path() + "/~temp_db.tdf").c_str(), F_OK), 0);
  ASSERT_EQ(chdir(previous), 0);
}

TEST_F(DatabaseTest, CreationFailureStopsBeforeTheBlockRequest) {
  image.ImageFileName = dir.PathOf("missing/folder/box.bin");
  Line("ack");
  EXPECT_EQ(view.errors, (std::vector<std::string>{"Cannot create file \"" +
                                                   dir.PathOf("missing/folder/box.tdf") +
                                                   "\". No such file or directory"}));
  EXPECT_EQ(link.Wire(), "REQUEST_DOWNLOAD\n");
}

TEST_F(DatabaseTest, CloseFilesReleasesTheSourceToo) {
  UseImage(PatternPayload(1024), false, false);
  Line("REQUEST_DOWNLOAD");
  Line("ack");
  engine.CloseFiles();
  EXPECT_FALSE(engine.State().SourceStream.IsOpen());
  EXPECT_FALSE(engine.State().UploadStream.IsOpen());
}

}  // namespace
}  // namespace stbup
