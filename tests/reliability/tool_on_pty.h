#pragma once

// "stbup upgrade" run in-process on the slave of a pty in a thread of its
// own, while the test plays the box on the master.

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <sstream>
#include <string>

#include "cli/upgrade_command.h"
#include "tests/support/pty_pair.h"

namespace stbup::testing {

class ToolOnPty {
 public:
  ToolOnPty(UpgradeOptions options, const std::string& port) : options_(std::move(options)) {
    options_.port = port;
    options_.out_is_terminal = false;
    options_.err_is_terminal = false;
    run_ = std::async(std::launch::async, [this] { return RunUpgrade(options_, out_, err_); });
  }
  ~ToolOnPty() {
    if (run_.valid()) run_.wait();
  }

  // The exit status, or -1 when the tool has not ended within the time.
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    if (run_.wait_for(timeout) != std::future_status::ready) return -1;
    if (!status_) status_ = run_.get();
    return *status_;
  }
  // Only once the tool has ended.
  std::string Out() const { return out_.str(); }
  std::string Err() const { return err_.str(); }

 private:
  UpgradeOptions options_;
  std::ostringstream out_;
  std::ostringstream err_;
  std::future<int> run_;
  std::optional<int> status_;
};

// How many of this process's descriptors are open on the file.
inline int DescriptorsOn(const std::string& path) {
  int count = 0;
  DIR* fds = ::opendir("/proc/self/fd");
  if (fds == nullptr) return -1;
  while (const dirent* entry = ::readdir(fds)) {
    char target[4096];
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == path) ++count;
  }
  ::closedir(fds);
  return count;
}

// A figure of /proc/self/status in KiB (VmRSS, VmHWM); -1 when absent.
inline long StatusKib(const std::string& pid, const std::string& field) {
  std::ifstream status("/proc/" + pid + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return -1;
}

}  // namespace stbup::testing
