#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "serial/event_loop.h"
#include "serial/va_comm.h"
#include "serial/va_comm_thread.h"
#include "tests/support/pty_pair.h"

namespace stbup::testing {

using namespace std::chrono_literals;

// A port on the slave of a fresh pty, with the form's line settings; the
// test is the far end on the master and runs the main loop itself.
class CommTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(AllThreadsEnded()) << "worker threads left over from an earlier test";
    comm.SetDeviceName(pty.slave_path());
    comm.SetBaudrate(TVaBaudrate::br115200);
    comm.OnException = [this](const std::exception& error) { reported.push_back(error.what()); };
  }

  bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 2s) {
    return loop.RunUntil(condition, limit);
  }
  void RunFor(std::chrono::milliseconds time) {
    loop.RunUntil([] { return false; }, time);
  }
  bool AllThreadsEnded() {
    return loop.RunUntil([] { return TVaCommThread::LiveCount() == 0; }, 2s);
  }

  EventLoop loop;
  PtyPair pty;
  TVaComm comm{loop};
  std::vector<std::string> reported;
};

}  // namespace stbup::testing
