#pragma once

// The stbup binary of this build run as a child process, its stderr read
// line by line.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace stbup::testing {

// The stbup binary of this build: beside the tests' folder, or $STBUP_BINARY.
inline std::string StbupBinary() {
  if (const char* given = std::getenv("STBUP_BINARY")) return given;
  const auto tests = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  return (tests.parent_path() / "cli" / "stbup").string();
}

// A child process whose stderr the test reads line by line.
// The next line read from fd, with what came after it kept in pending; nothing
// when none came within the time or the stream ended (or fd is closed, -1).
inline std::optional<std::string> ReadLine(int fd, std::string& pending,
                                           std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const std::size_t end = pending.find('\n');
    if (end != std::string::npos) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || fd < 0) return std::nullopt;
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) return std::nullopt;
    pending.append(buffer, static_cast<std::size_t>(got));
  }
}

class Child {
 public:
  explicit Child(const std::vector<std::string>& args) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return;
    err_ = pipe_fds[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // An address-sanitized build keeps freed memory aside for a while; a test
    // that measures what the tool holds (the soak) needs it told not to.
    std::vector<std::string> env_text;
    std::string asan = "ASAN_OPTIONS=";
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      if (entry.starts_with(asan)) {
        asan = entry + ":";
      } else {
        env_text.push_back(entry);
      }
    }
    env_text.push_back(asan + "quarantine_size_mb=0:thread_local_quarantine_size_kb=0");
    std::vector<char*> env;
    for (std::string& entry : env_text) env.push_back(entry.data());
    env.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), env.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
  }
  ~Child() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (err_ >= 0) ::close(err_);
  }

  pid_t pid() const { return pid_; }

  // The next line on stderr, or nothing when none came within the time.
  std::optional<std::string> Line(std::chrono::milliseconds timeout) {
    return ReadLine(err_, pending_, timeout);
  }

  // The exit status; -1 when it has not ended within the time.
  int Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!status_) {
      int status = 0;
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      } else if (std::chrono::steady_clock::now() > deadline) {
        return -1;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    return *status_;
  }

 private:
  pid_t pid_ = -1;
  int err_ = -1;
  std::string pending_;
  std::optional<int> status_;
};

}  // namespace stbup::testing
