// What the station needs of a console on Windows: the choice between the live
// table and plain lines, and the console's control events as interruptions.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/signal_watch.h"
#include "cli/win32/console_control.h"
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

// A console of the test's own. Under Wine a console's window needs a display
// (scripts/test-windows runs this test on one too); without one, the console
// Wine makes takes no output.
class ConsoleTest : public testing::Test {
 protected:
  void SetUp() override {
    ::FreeConsole();
    if (!::AllocConsole()) GTEST_SKIP() << "no console can be had here: " << ::GetLastError();
    output_ = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD mode = 0;
    if (output_ == INVALID_HANDLE_VALUE || !::GetConsoleMode(output_, &mode)) {
      GTEST_SKIP() << "the console takes no output here (no display?): " << ::GetLastError();
    }
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

// The row of the console's buffer, its trailing blanks dropped.
std::string ConsoleRow(HANDLE output, SHORT row) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(output, &info)) return "?";
  std::string text(static_cast<std::size_t>(info.dwSize.X), ' ');
  DWORD read = 0;
  ::ReadConsoleOutputCharacterA(output, text.data(), info.dwSize.X, COORD{0, row}, &read);
  text.resize(read);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

TEST_F(ConsoleTest, AFrameIsDrawnOverThePreviousOneAndWhatItLeavesIsCleared) {
  const std::string before = "kept above\nframe 1 with a long line\nframe 2\nframe 3\n";
  DWORD written = 0;
  ASSERT_TRUE(
      ::WriteFile(output_, before.data(), static_cast<DWORD>(before.size()), &written, nullptr));
  CONSOLE_SCREEN_BUFFER_INFO info{};
  ASSERT_TRUE(::GetConsoleScreenBufferInfo(output_, &info));
  const SHORT end = info.dwCursorPosition.Y;
  ASSERT_GE(end, 4);
  ASSERT_EQ(ConsoleRow(output_, static_cast<SHORT>(end - 3)), "frame 1 with a long line");

  // A shorter frame: its lines cover the old ones whole, the old third is gone.
  ASSERT_TRUE(DrawConsoleFrame(output_, 3, {"new 1", "new 2"}));
  EXPECT_EQ(ConsoleRow(output_, static_cast<SHORT>(end - 4)), "kept above");
  EXPECT_EQ(ConsoleRow(output_, static_cast<SHORT>(end - 3)), "new 1");
  EXPECT_EQ(ConsoleRow(output_, static_cast<SHORT>(end - 2)), "new 2");
  EXPECT_EQ(ConsoleRow(output_, static_cast<SHORT>(end - 1)), "");
  ASSERT_TRUE(::GetConsoleScreenBufferInfo(output_, &info));
  EXPECT_EQ(info.dwCursorPosition.Y, end - 1);
  EXPECT_EQ(info.dwCursorPosition.X, 0);

  // A line wider than the window is cut short of its last column: one row each.
  const std::string wide(1000, 'x');
  ASSERT_TRUE(DrawConsoleFrame(output_, 2, {wide, "after"}));
  EXPECT_EQ(ConsoleRow(output_, static_cast<SHORT>(end - 2)), "after");
  EXPECT_FALSE(DrawConsoleFrame(INVALID_HANDLE_VALUE, 1, {"x"}));
}

// Takes what the handler set within ms, as the loop would.
bool RaisedWithin(SignalWatch& watch, DWORD ms) {
  HANDLE event = reinterpret_cast<HANDLE>(watch.Fd());
  const DWORD deadline = ::GetTickCount() + ms;
  do {
    if (watch.Raised()) return true;
  } while (::WaitForSingleObject(event, 10) != WAIT_FAILED && ::GetTickCount() < deadline);
  return watch.Raised();
}

TEST(SignalWatchTest, CtrlCPressesAreTakenOneAtATimeAsTheOperatorsInterruption) {
  ::FreeConsole();
  if (!::AllocConsole()) GTEST_SKIP() << "no console can be had here: " << ::GetLastError();
  {
    SignalWatch watch;
    ASSERT_GE(watch.Fd(), 0);
    EXPECT_FALSE(watch.Raised());
    ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    ASSERT_TRUE(RaisedWithin(watch, 2000));
    EXPECT_FALSE(watch.Urgent());
    ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    EXPECT_TRUE(RaisedWithin(watch, 2000));
    EXPECT_TRUE(RaisedWithin(watch, 2000));
    EXPECT_FALSE(watch.Urgent());
    EXPECT_FALSE(watch.Raised());
    EXPECT_NE(::WaitForSingleObject(reinterpret_cast<HANDLE>(watch.Fd()), 50), WAIT_OBJECT_0)
        << "the event stays set with nothing to take";
  }
  ::FreeConsole();
}

// The events Wine cannot send to a process, played as the system calls the
// handler: on a thread of their own.
TEST(SignalWatchTest, CtrlBreakAndAClosingConsoleEndAtOnceOverAWaitingCtrlC) {
  auto watch = std::make_unique<SignalWatch>();
  ASSERT_GE(watch->Fd(), 0);
  ASSERT_TRUE(OnConsoleControl(CTRL_C_EVENT));
  ASSERT_TRUE(OnConsoleControl(CTRL_BREAK_EVENT));
  ASSERT_TRUE(watch->Raised());
  EXPECT_TRUE(watch->Urgent()) << "the end is taken before a Ctrl-C still waiting";
  ASSERT_TRUE(watch->Raised());
  EXPECT_FALSE(watch->Urgent());
  EXPECT_FALSE(watch->Raised());
  EXPECT_FALSE(OnConsoleControl(CTRL_LOGOFF_EVENT + 100)) << "not an event the watch takes";

  // A closing console: the handler holds the process until the watch ends.
  std::atomic<bool> returned{false};
  std::thread system([&] {
    OnConsoleControl(CTRL_CLOSE_EVENT);
    returned = true;
  });
  ASSERT_TRUE(RaisedWithin(*watch, 2000));
  EXPECT_TRUE(watch->Urgent());
  ::Sleep(300);
  EXPECT_FALSE(returned) << "the process would end before the station said its summary";
  const DWORD ended = ::GetTickCount();
  watch.reset();
  system.join();
  EXPECT_LT(::GetTickCount() - ended, 1000u);
}

}  // namespace
}  // namespace stbup
