// The files the engine reads and writes, with what only POSIX has: links,
// FIFOs, devices, folder modes, renames over an open file.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "image/regular_file.h"
#include "protocol/file_stream.h"
#include "tests/protocol/download_fixture.h"

namespace stbup {
namespace {

using DatabaseTest = DownloadTest;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Each answered request on the wire is a block of the loaded payload and its
// sum, in order from block 0: nothing else ever reached the box.
void ExpectLoadedBlocks(const Bytes& sent, const Bytes& payload) {
  ASSERT_EQ(sent.size() % 1025, 0u);
  for (std::size_t k = 0; k * 1025 < sent.size(); ++k) {
    SCOPED_TRACE("block " + std::to_string(k));
    Bytes block = payload.substr(k * 1024, 1024);
    block.resize(1024, '\0');
    EXPECT_EQ(sent.substr(k * 1025, 1024), block);
    EXPECT_EQ(static_cast<std::uint8_t>(sent[k * 1025 + 1024]), Sum(block));
  }
}

// The image changed after it was loaded and checked, or while it is being
// sent: the box never gets zeros or foreign bytes, and the run cannot end in
// a verified success. Blocks already read ahead, checked against the loaded
// file, may still go out; the change is seen once the box has the region.
TEST_F(DownloadTest, TheImageChangingUnderTheDownloadStopsIt) {
  struct Case {
    std::string name;
    bool before_download;  // else after block 0 was sent
    std::function<void(const std::string& path)> change;
  };
  const std::vector<Case> cases = {
      {"truncated", false,
       [](const std::string& path) { ASSERT_EQ(::truncate(path.c_str(), 100), 0); }},
      {"truncated mid-download", true,
       [](const std::string& path) { ASSERT_EQ(::truncate(path.c_str(), 1500), 0); }},
      {"rewritten in place", true,
       [](const std::string& path) {
         std::ofstream(path, std::ios::binary | std::ios::in | std::ios::out).write("XXXX", 4);
       }},
      {"appended to", true,
       [](const std::string& path) { std::ofstream(path, std::ios::app) << "more"; }},
      {"swapped for a directory", false,
       [](const std::string& path) {
         ASSERT_EQ(::unlink(path.c_str()), 0);
         ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
       }},
      {"swapped for /dev/zero", false,
       [](const std::string& path) {
         ASSERT_EQ(::unlink(path.c_str()), 0);
         ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0);
       }},
      {"swapped for a FIFO", false,
       [](const std::string& path) {
         ASSERT_EQ(::unlink(path.c_str()), 0);
         ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
       }},
      {"swapped for another file", false,
       [](const std::string& path) {
         const std::string other = path + ".new";
         std::ofstream(other, std::ios::binary) << std::string(5000, 'F');
         ASSERT_EQ(::rename(other.c_str(), path.c_str()), 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    engine.EndRun();
    engine.CloseFiles();
    ::rmdir(dir.PathOf("image.bin").c_str());
    ::unlink(dir.PathOf("image.bin").c_str());
    const Bytes payload = PatternPayload(4096);
    UseImage(payload, false, false);
    // As a load leaves it: the file's identity when it was checked.
    const int fd = ::open(image.ImageFileName.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    image.SourceIdentity = IdentityOf(fd);
    ::close(fd);
    view.errors.clear();
    NewMemo();
    // A file time of its own, so an in-place rewrite shows even within a clock tick.
    ::usleep(20'000);
    if (!c.before_download) c.change(image.ImageFileName);
    Line("REQUEST_DOWNLOAD");
    Bytes sent;
    if (c.before_download) {
      sent += Line("REQUEST_1024DOWN:0000");
      c.change(image.ImageFileName);
      Line("1024DOWN_SUCCESS:0000");
    }
    for (int k = c.before_download ? 1 : 0; k < 4; ++k) {
      sent += Line("REQUEST_1024DOWN:" + FormatBlockNumber(k));
      Line("1024DOWN_SUCCESS:" + FormatBlockNumber(k));
    }
    EXPECT_EQ(sent.size(), c.before_download ? 4 * 1025u : 0u);
    ExpectLoadedBlocks(sent, payload);
    ASSERT_EQ(view.errors.size(), 1u);
    const Lines memo = NewMemo();
    ASSERT_FALSE(memo.empty());
    EXPECT_EQ(memo.back(), ">> Download stopped: " + view.errors[0]);
    EXPECT_FALSE(engine.WholeRegionDownloaded());
    Line("REQUEST_TOTALCRC");
    Line("FLASHCRC_SUCCESS");
    EXPECT_FALSE(engine.MissingForSuccess().empty());
  }
}

// An image longer than one read-ahead, changed while its first part is
// being sent: the next read-ahead finds the change, and no block of it, nor
// any later one, reaches the box.
TEST_F(DownloadTest, AChangeIsFoundAtTheNextReadAhead) {
  struct Case {
    std::string name;
    std::function<void(const std::string& path)> change;
  };
  const std::vector<Case> cases = {
      {"truncated",
       [](const std::string& path) { ASSERT_EQ(::truncate(path.c_str(), 70 * 1024), 0); }},
      {"rewritten in place",
       [](const std::string& path) {
         std::ofstream file(path, std::ios::binary | std::ios::in | std::ios::out);
         file.seekp(80 * 1024);
         file.write("XXXX", 4);
       }},
      {"appended to",
       [](const std::string& path) { std::ofstream(path, std::ios::app) << "more"; }},
  };
  constexpr int kBlocks = FileStream::kReadAheadBlocks + 36;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    engine.EndRun();
    engine.CloseFiles();
    const Bytes payload = PatternPayload(kBlocks * 1024, 5);
    UseImage(payload, false, false);
    const int fd = ::open(image.ImageFileName.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    image.SourceIdentity = IdentityOf(fd);
    ::close(fd);
    view.errors.clear();
    NewMemo();
    ::usleep(20'000);
    Line("REQUEST_DOWNLOAD");
    Bytes sent;
    for (int k = 0; k < kBlocks && view.errors.empty(); ++k) {
      sent += Line("REQUEST_1024DOWN:" + FormatBlockNumber(k));
      if (k == 0) c.change(image.ImageFileName);
      Line("1024DOWN_SUCCESS:" + FormatBlockNumber(k));
    }
    EXPECT_EQ(sent.size(), FileStream::kReadAheadBlocks * 1025u);
    ExpectLoadedBlocks(sent, payload);
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(NewMemo().back(), ">> Download stopped: " + view.errors[0]);
    EXPECT_EQ(Line("REQUEST_1024DOWN:" + FormatBlockNumber(FileStream::kReadAheadBlocks)), "");
    EXPECT_FALSE(engine.WholeRegionDownloaded());
    EXPECT_FALSE(engine.MissingForSuccess().empty());
  }
}

// Swapped by name while it is being sent, the loaded file itself is still
// what the box gets, block for block.
TEST_F(DownloadTest, AFileRenamedOverTheImageMidDownloadDoesNotReachTheBox) {
  const Bytes payload = PatternPayload(4096, 3);
  UseImage(payload, false, false);
  const int fd = ::open(image.ImageFileName.c_str(), O_RDONLY);
  image.SourceIdentity = IdentityOf(fd);
  ::close(fd);
  Line("REQUEST_DOWNLOAD");
  Bytes received = RequestBlock(0);
  Line("1024DOWN_SUCCESS:0000");
  const std::string other = image.ImageFileName + ".new";
  std::ofstream(other, std::ios::binary) << std::string(4096, 'F');
  ASSERT_EQ(::rename(other.c_str(), image.ImageFileName.c_str()), 0);
  for (int k = 1; k < 4; ++k) {
    received += RequestBlock(k);
    Line("1024DOWN_SUCCESS:" + FormatBlockNumber(k));
  }
  EXPECT_EQ(received, payload);
  EXPECT_TRUE(engine.WholeRegionDownloaded());
}

// Whatever already has the upload file's name is never opened: an earlier
// box's database, the image itself, a link planted there (pointing at a file
// or at nothing). The request goes into the next free name.
TEST_F(DatabaseTest, ExistingFilesAndLinksAreNeverEmptiedOrFollowed) {
  struct Case {
    std::string name;
    std::function<void()> plant;
    std::string image;
  };
  const std::string outside = dir.PathOf("outside.txt");
  const std::vector<Case> cases = {
      {"an earlier database", [&] { dir.WriteFile("box.tdf", "old contents"); }, "box.bin"},
      {"the image itself", [&] { dir.WriteFile("box.tdf", "TAVO image bytes"); }, "box.tdf"},
      {"a link to a file",
       [&] {
         dir.WriteFile("outside.txt", "precious");
         ASSERT_EQ(::symlink(outside.c_str(), dir.PathOf("box.tdf").c_str()), 0);
       },
       "box.bin"},
      {"a dangling link",
       [&] {
         ASSERT_EQ(::symlink(dir.PathOf("nowhere/new.txt").c_str(), dir.PathOf("box.tdf").c_str()),
                   0);
       },
       "box.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink(dir.PathOf("box.tdf").c_str());
    ::unlink(dir.PathOf("box-2.tdf").c_str());
    ::unlink(outside.c_str());
    engine.CloseFiles();
    c.plant();
    std::string before = Contents(dir.PathOf("box.tdf"));
    image.ImageFileName = dir.PathOf(c.image);
    link.ClearWrites();
    NewMemo();
    Line("ack");
    EXPECT_EQ(link.Wire(), "REQUEST_DOWNLOAD\nREQUEST_1024DOWN:0768\n");
    EXPECT_EQ(NewMemo(), Lines{"-. Database request into " + dir.PathOf("box-2.tdf")});
    EXPECT_EQ(Contents(dir.PathOf("box.tdf")), before);
    EXPECT_EQ(::access(dir.PathOf("nowhere").c_str(), F_OK), -1);
    EXPECT_EQ(::access(dir.PathOf("box-2.tdf").c_str(), F_OK), 0);
    if (c.name == "a link to a file") {
      EXPECT_EQ(Contents(outside), "precious");
    }
  }
}

TEST_F(DatabaseTest, ReadOnlyFolderStopsBeforeTheBlockRequest) {
  // Root writes into any folder of its own; sysfs refuses it all the same.
  const std::string folder = ::geteuid() == 0 ? "/sys" : dir.PathOf("ro");
  if (::geteuid() != 0) {
    ASSERT_EQ(::mkdir(folder.c_str(), 0555), 0);
  }
  image.ImageFileName = folder + "/box.bin";
  Line("ack");
  EXPECT_EQ(view.errors, (std::vector<std::string>{"Cannot create file \"" + folder +
                                                   "/box.tdf\". Permission denied"}));
  EXPECT_EQ(link.Wire(), "REQUEST_DOWNLOAD\n");
  EXPECT_EQ(NewMemo(), Lines{});
  if (::geteuid() != 0) ::chmod(folder.c_str(), 0755);
}

}  // namespace
}  // namespace stbup
