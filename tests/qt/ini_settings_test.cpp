#include "app/qt/settings/ini_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QSettings>
#include <filesystem>
#include <stdexcept>

#include "app/core/window_records.h"
#include "tests/qt/support/qt_printers.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

constexpr std::string_view kKey = "\\SOFTWARE\\TAVOLINKS\\SOFTWAREUPGRADE_TZIP";

QString Path(const TempDir& dir, const char* name = "stbup.ini") {
  return QString::fromStdString(dir.PathOf(name));
}

TEST(IniSettings, MissingKeyIsCreatedOnlyWhenAsked) {
  TempDir dir;
  IniSettings settings(Path(dir, "sub/dir/stbup.ini"));
  EXPECT_FALSE(settings.OpenKey(kKey, false));
  EXPECT_TRUE(settings.OpenKey(kKey, true));
  settings.WriteString("FileName", "");
  settings.WriteString("ComPort", "COM1");
  settings.WriteString("PortIndex", "0");
  settings.CloseKey();

  // The values sit in the key path's group, as text, also the index.
  QSettings file(Path(dir, "sub/dir/stbup.ini"), QSettings::IniFormat);
  EXPECT_EQ(file.value("SOFTWARE/TAVOLINKS/SOFTWAREUPGRADE_TZIP/ComPort").toString(), "COM1");
  EXPECT_EQ(file.value("SOFTWARE/TAVOLINKS/SOFTWAREUPGRADE_TZIP/PortIndex").typeId(),
            QMetaType::QString);
  EXPECT_TRUE(file.contains("SOFTWARE/TAVOLINKS/SOFTWAREUPGRADE_TZIP/FileName"));

  IniSettings again(Path(dir, "sub/dir/stbup.ini"));
  EXPECT_TRUE(again.OpenKey(kKey, false));
  EXPECT_EQ(again.ReadString("ComPort"), "COM1");
  EXPECT_EQ(again.ReadString("FileName"), "");
  EXPECT_EQ(again.ReadString("NotThere"), "");
}

// The records section as an operator writes it by hand: key words with "="
// and blanks in a value, a section of its own that the window's saving of
// its three values leaves alone.
TEST(IniSettings, TheRecordsSectionIsReadAndSurvivesTheWindowsSaving) {
  TempDir dir;
  dir.WriteFile("stbup.ini",
                "[SOFTWARE]\n"
                "TAVOLINKS\\SOFTWAREUPGRADE_TZIP\\ComPort=COM3\n"
                "[SOFTWARE/TAVOLINKS/SOFTWAREUPGRADE_TZIP/Records]\n"
                "Server=host=db.line dbname=records connect_timeout=5\n"
                "Operator=Ana Lima\n"
                "WorkOrder=WO-1207\n");
  IniSettings settings(Path(dir));
  RecordsSurroundings surroundings;
  surroundings.host_name = "bench-pc";
  WindowRecords chosen = ChooseWindowRecords(settings, {}, surroundings);
  EXPECT_EQ(chosen.server, "host=db.line dbname=records connect_timeout=5");
  EXPECT_EQ(chosen.operator_name, "Ana Lima");
  EXPECT_EQ(chosen.work_order, "WO-1207");
  EXPECT_EQ(chosen.station_name, "bench-pc");
  EXPECT_EQ(chosen.file, "");

  ASSERT_TRUE(settings.OpenKey(kKey, false));
  EXPECT_EQ(settings.ReadString("ComPort"), "COM3");
  settings.WriteString("ComPort", "COM4");
  settings.WriteString("FileName", "/srv/img/box.bin");
  settings.CloseKey();

  IniSettings again(Path(dir));
  chosen = ChooseWindowRecords(again, {}, surroundings);
  EXPECT_EQ(chosen.server, "host=db.line dbname=records connect_timeout=5");
  EXPECT_EQ(chosen.work_order, "WO-1207");
  ASSERT_TRUE(again.OpenKey(kKey, false));
  EXPECT_EQ(again.ReadString("ComPort"), "COM4");
  EXPECT_EQ(again.ReadString("Server"), "");  // not among the window's values
}

TEST(IniSettings, TextsRoundTripAsUtf8) {
  TempDir dir;
  const std::string name = "/home/op\xC3\xA9rateur/images/a,b; c=d.bin";
  {
    IniSettings settings(Path(dir));
    ASSERT_TRUE(settings.OpenKey(kKey, true));
    settings.WriteString("FileName", name);
    settings.CloseKey();
  }
  IniSettings settings(Path(dir));
  ASSERT_TRUE(settings.OpenKey(kKey, false));
  EXPECT_EQ(settings.ReadString("FileName"), name);
}

TEST(IniSettings, HandWrittenFile) {
  TempDir dir;
  dir.WriteFile("stbup.ini",
                "[SOFTWARE]\n"
                "TAVOLINKS\\SOFTWAREUPGRADE_TZIP\\FileName=/srv/img/a,b.bin\n"
                "TAVOLINKS\\SOFTWAREUPGRADE_TZIP\\ComPort=COM3\n"
                "TAVOLINKS\\SOFTWAREUPGRADE_TZIP\\PortIndex=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n"
                "[Ports]\n"
                "COM3=/dev/ttyUSB0\n"
                "COM4=\n");
  IniSettings settings(Path(dir));
  ASSERT_TRUE(settings.OpenKey(kKey, false));
  // An unquoted comma splits the text into a list; it is read as one text.
  EXPECT_EQ(settings.ReadString("FileName"), "/srv/img/a,b.bin");
  EXPECT_EQ(settings.ReadString("ComPort"), "COM3");
  try {
    settings.ReadString("PortIndex");
    FAIL() << "a number stored as a number is not text";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Invalid data type for 'PortIndex'");
  }
  EXPECT_EQ(settings.PortPath("COM3"), "/dev/ttyUSB0");
  EXPECT_EQ(settings.PortPath("COM4"), std::nullopt);
  EXPECT_EQ(settings.PortPath("COM5"), std::nullopt);
}

TEST(IniSettings, FailuresCarryTheStoresTexts) {
  TempDir dir;
  // A plain file where the store's folder would be: no key can be made there.
  dir.WriteFile("not-a-folder", "x");
  IniSettings settings(Path(dir, "not-a-folder/stbup.ini"));
  try {
    settings.OpenKey(kKey, true);
    FAIL() << "the key cannot be created";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), "Failed to create key " + std::string(kKey));
  }

  ASSERT_EQ(mkdir(dir.PathOf("gone").c_str(), 0700), 0);
  dir.WriteFile("gone/stbup.ini", "[SOFTWARE]\nTAVOLINKS\\SOFTWAREUPGRADE_TZIP\\ComPort=COM1\n");
  IniSettings vanishing(Path(dir, "gone/stbup.ini"));
  ASSERT_TRUE(vanishing.OpenKey(kKey, false));
  EXPECT_EQ(vanishing.ReadString("ComPort"), "COM1");
  // The folder is replaced by a file while the window runs.
  ASSERT_EQ(unlink(dir.PathOf("gone/stbup.ini").c_str()), 0);
  ASSERT_EQ(rmdir(dir.PathOf("gone").c_str()), 0);
  dir.WriteFile("gone", "x");
  try {
    vanishing.WriteString("ComPort", "COM2");
    FAIL() << "the value cannot be written";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Failed to set data for 'ComPort'");
  }
}

// The window reads no more of a settings file than the command line does:
// an oversized file or a FIFO is not read, reads as empty and is never
// written, and its Problem says why.
TEST(IniSettings, OversizedOrOddFilesAreNotRead) {
  TempDir dir;
  std::string big = "[Ports]\nCOM3=/dev/ttyUSB0\n";
  big += std::string(kMaxSettingsFileSize, ';');
  dir.WriteFile("big.ini", big);
  ASSERT_EQ(mkfifo(dir.PathOf("fifo.ini").c_str(), 0600), 0);
  const struct {
    const char* name;
    const char* why;
  } cases[] = {{"big.ini", "is larger than 1024 KiB"}, {"fifo.ini", "is not a regular file"}};
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    IniSettings settings(Path(dir, test.name));
    EXPECT_EQ(settings.PortPath("COM3"), std::nullopt);
    EXPECT_FALSE(settings.OpenKey(kKey, false));
    EXPECT_THROW(settings.OpenKey(kKey, true), std::runtime_error);
    EXPECT_EQ(settings.Problem(), "The settings file \"" + dir.PathOf(test.name) + "\" " +
                                      test.why +
                                      "; it is left as it is and the settings will not be saved.");
  }
  EXPECT_EQ(std::filesystem::file_size(dir.PathOf("big.ini")), big.size());
}

}  // namespace
}  // namespace stbup
