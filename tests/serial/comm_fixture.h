#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "loop/event_loop.h"
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
  // The far end's reading, with the main loop running meanwhile: the write
  // thread reports each drained queue to the main thread and waits for it.
  std::string Receive(std::size_t count, std::chrono::milliseconds limit = 2s) {
    std::string got;
    loop.RunUntil(
        [&] {
          got += pty.ReadAvailable();
          return got.size() >= count;
        },
        limit);
    return got;
  }
  std::string ReceiveUntilQuiet(std::chrono::milliseconds quiet) {
    std::string got;
    auto last = std::chrono::steady_clock::now();
    loop.RunUntil(
        [&] {
          const std::string more = pty.ReadAvailable();
          const auto now = std::chrono::steady_clock::now();
          if (!more.empty()) {
            got += more;
            last = now;
          }
          return now - last >= quiet;
        },
        10s);
    return got;
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
