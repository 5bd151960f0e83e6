#include "app/win32/text.h"

#include <gtest/gtest.h>

#include <string>

namespace stbup {
namespace {

TEST(Win32Text, EveryByteShowsAsItsOwnCharacterAndReadsBack) {
  std::string all;
  for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
  const std::wstring shown = WideFromBytes(all);
  ASSERT_EQ(shown.size(), all.size());
  for (std::size_t i = 0; i < shown.size(); ++i) {
    EXPECT_EQ(static_cast<unsigned>(shown[i]), static_cast<unsigned char>(all[i]));
  }
  EXPECT_EQ(BytesFromWide(shown), all);
}

TEST(Win32Text, NulShowsAsBlankAndWideCharactersReadBackAsQuestionMarks) {
  EXPECT_EQ(WideFromBytes(std::string("a\0b", 3)), L"a b");
  EXPECT_EQ(BytesFromWide(L"\u00e9\u20ac\u4e2d"), "\xe9??");
}

TEST(Win32Text, FileFilterBecomesNulSeparatedPairs) {
  struct Row {
    const char* given;
    std::wstring expected;
  };
  const Row rows[] = {
      {"*.bin (Binary File)|*.bin", std::wstring(L"*.bin (Binary File)\0*.bin\0\0", 27)},
      {"Images|*.bin;*.img|All|*", std::wstring(L"Images\0*.bin;*.img\0All\0*\0\0", 26)},
      {"", std::wstring(L"\0", 1)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Win32FileFilter(row.given), row.expected) << row.given;
  }
}

TEST(Win32Text, DefaultExtensionLosesWildcardAndDot) {
  EXPECT_EQ(Win32DefaultExtension("*.bin"), L"bin");
  EXPECT_EQ(Win32DefaultExtension(".bin"), L"bin");
  EXPECT_EQ(Win32DefaultExtension("bin"), L"bin");
  EXPECT_EQ(Win32DefaultExtension(""), L"");
}

TEST(Win32Text, ErrorBoxEndsTextWithFullStopUnlessPunctuated) {
  EXPECT_EQ(ErrorBoxText("'12x' is not a valid integer value"),
            "'12x' is not a valid integer value.");
  EXPECT_EQ(ErrorBoxText("Output buffer is full."), "Output buffer is full.");
  EXPECT_EQ(ErrorBoxText("Need higher up tool !"), "Need higher up tool !");
  EXPECT_EQ(ErrorBoxText("Cannot open file \"x.bin\". (2)"), "Cannot open file \"x.bin\". (2)");
  EXPECT_EQ(ErrorBoxText(""), "");
}

TEST(Win32Text, PathsRoundTripThroughTheAnsiCodePage) {
  const std::string path = "C:\\images\\box.bin";
  EXPECT_EQ(WideFromPath(path), L"C:\\images\\box.bin");
  EXPECT_EQ(PathFromWide(WideFromPath(path)), path);
  EXPECT_EQ(WideFromPath(""), L"");
}

}  // namespace
}  // namespace stbup
