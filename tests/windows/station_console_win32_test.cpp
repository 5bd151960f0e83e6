// What the station needs of a console on Windows: the choice between the live
// table and plain lines, and the console's control events as interruptions.
#include <gtest/gtest.h>

#include <string>

#include "cli/signal_watch.h"
#include "cli/win32/console_output.h"
#include "tests/support/temp_dir.h"

#include <windows.h>

namespace stbup {
namespace {

TEST(ConsoleOutputTest, FilesAndPipesGetPlainLines) {
  TempDir dir;
  const std::string path = dir.PathOf("out.txt");
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, 0));
  struct Case {
    const char* what;
    HANDLE handle;
  };
  for (const Case& c : {Case{"file", file}, Case{"pipe", write_end},
                        Case{"no handle", INVALID_HANDLE_VALUE}, Case{"null", nullptr}}) {
    EXPECT_FALSE(ConsoleTakesSequences(c.handle)) << c.what;
    EXPECT_EQ(ConsoleColumns(c.handle), 0) << c.what;
  }
  ::CloseHandle(file);
  ::CloseHandle(read_end);
  ::CloseHandle(write_end);
}

// A console of the test's own, left behind when the test ends.
class ConsoleTest : public testing::Test {
 protected:
  void SetUp() override {
    ::FreeConsole();
    if (!::AllocConsole()) GTEST_SKIP() << "no console can be had here: " << ::GetLastError();
    output_ = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(output_, INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    if (output_ != INVALID_HANDLE_VALUE) ::CloseHandle(output_);
    ::FreeConsole();
  }
  HANDLE output_ = INVALID_HANDLE_VALUE;
};

TEST_F(ConsoleTest, AConsoleIsAskedToObeyTerminalSequencesAndGivesItsWidth) {
  DWORD mode = 0;
  ASSERT_TRUE(::GetConsoleMode(output_, &mode));
  ASSERT_TRUE(::SetConsoleMode(output_, mode & ~ENABLE_VIRTUAL_TERMINAL_PROCESSING));
  EXPECT_TRUE(ConsoleTakesSequences(output_));
  ASSERT_TRUE(::GetConsoleMode(output_, &mode));
  EXPECT_NE(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING, 0u);
  EXPECT_GT(ConsoleColumns(output_), 0);
}

TEST_F(ConsoleTest, CtrlCIsTheOperatorsInterruptionAndCtrlBreakAnEndAtOnce) {
  SignalWatch watch;
  ASSERT_GE(watch.Fd(), 0);
  HANDLE event = reinterpret_cast<HANDLE>(watch.Fd());
  EXPECT_FALSE(watch.Raised());
  // The handler runs on a thread of its own: what it counts arrives a moment later.
  const auto raised_within = [&](DWORD ms) {
    const DWORD deadline = ::GetTickCount() + ms;
    do {
      if (watch.Raised()) return true;
    } while (::WaitForSingleObject(event, 10) != WAIT_FAILED && ::GetTickCount() < deadline);
    return watch.Raised();
  };
  ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
  ASSERT_TRUE(raised_within(2000));
  EXPECT_FALSE(watch.Urgent());
  // Two presses are two interruptions, taken one at a time.
  ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
  ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
  ASSERT_TRUE(raised_within(2000));
  ASSERT_TRUE(raised_within(2000));
  EXPECT_FALSE(watch.Urgent());
  EXPECT_FALSE(watch.Raised());
  EXPECT_NE(::WaitForSingleObject(event, 50), WAIT_OBJECT_0) << "the event stays set";

  ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0));
  ASSERT_TRUE(raised_within(2000));
  EXPECT_TRUE(watch.Urgent());
}

}  // namespace
}  // namespace stbup
