#pragma once

// A hand-written PC side for the simulator's tests: opens the slave of a pty,
// answers the box from a fixed script and records every line the box sends.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/box_simulator.h"
#include "sim/posix/pty_endpoint.h"

namespace stbup::testing {

inline std::string Number4(long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%4.4ld", value);
  return text;
}

inline std::uint8_t Sum(const std::vector<std::uint8_t>& bytes) {
  std::uint8_t sum = 0;
  for (const auto b : bytes) sum = static_cast<std::uint8_t>(sum + b);
  return sum;
}

// What the PC answers.
struct PcScript {
  std::string token = "PC___";
  bool answer_ack = true;
  std::string start_block = "0000";
  std::string block_count;                        // default: blocks.size() as %4.4d
  std::vector<std::vector<std::uint8_t>> blocks;  // block k as the PC sends it
  std::optional<std::uint8_t> total_checksum;     // default: the sum of the acknowledged blocks
  std::string database_request;                   // sent on the box's "ack" when set
  // Lines the PC does not react to (noise) are dropped from the transcript.
  bool skip_unknown_lines = false;
  // Stop serving once the box has said nothing for this long (a silent box).
  std::optional<std::chrono::milliseconds> quiet_end;
};

class ScriptedPc {
 public:
  explicit ScriptedPc(const std::string& slave_path) {
    fd_ = ::open(slave_path.c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    ::tcgetattr(fd_, &raw);
    cfmakeraw(&raw);
    ::tcsetattr(fd_, TCSANOW, &raw);
  }
  ~ScriptedPc() {
    if (fd_ >= 0) ::close(fd_);
  }
  ScriptedPc(const ScriptedPc&) = delete;
  ScriptedPc& operator=(const ScriptedPc&) = delete;

  void Send(const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }
  void Send(const std::vector<std::uint8_t>& bytes) {
    Send(std::string(bytes.begin(), bytes.end()));
  }
  void Close() {
    ::close(fd_);
    fd_ = -1;
  }

  // The next byte, or nothing when the line stayed quiet for the wait or ended.
  std::optional<std::uint8_t> Byte(std::chrono::milliseconds wait) {
    if (pos_ == buffer_.size()) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return std::nullopt;
      char chunk[4096];
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffer_.assign(chunk, chunk + n);
      pos_ = 0;
    }
    return static_cast<std::uint8_t>(buffer_[pos_++]);
  }

  // The next whole line; a part that arrived before the wait ran out is kept.
  std::optional<std::string> Line(std::chrono::milliseconds wait) {
    while (const auto b = Byte(wait)) {
      if (*b == '\n') return std::exchange(partial_, std::string());
      partial_ += static_cast<char>(*b);
    }
    return std::nullopt;
  }

  std::string Raw(std::size_t count) {
    std::string bytes;
    while (bytes.size() < count) {
      const auto b = Byte(std::chrono::milliseconds(2000));
      if (!b) break;
      bytes += static_cast<char>(*b);
    }
    return bytes;
  }

  // Wakes the box and answers it until it falls quiet; returns its lines.
  std::vector<std::string> Serve(const PcScript& script, const std::atomic<bool>& box_done) {
    std::vector<std::string> lines;
    Send("\x07");
    std::size_t current = 0;
    std::uint8_t total = 0;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    auto last_line = std::chrono::steady_clock::now();
    bool box_was_done = false;
    while (std::chrono::steady_clock::now() < give_up) {
      // Once the box has ended, its last line may still be on its way through
      // the pty (a loaded machine delays it): one longer look before leaving.
      const auto line = Line(std::chrono::milliseconds(box_was_done ? 300 : 100));
      if (!line) {
        if (box_was_done) break;
        if (box_done) {
          box_was_done = true;
          continue;
        }
        if (script.quiet_end && std::chrono::steady_clock::now() - last_line > *script.quiet_end) {
          break;
        }
        continue;
      }
      last_line = std::chrono::steady_clock::now();
      const std::string command = line->substr(0, line->find(':'));
      bool known = true;
      if (*line == "BL_FLASH_INFO") {
        flash_record = Raw(33);
      } else if (*line == "BL_FLASH_END" || *line == "BL_INFO_END" || *line == "REQUEST_MODE") {
        Send(script.token);
      } else if (command == "REQUEST_VERSION") {
        if (script.answer_ack) Send("ack");
      } else if (*line == "REQUEST_START_BLOCK" || *line == "REQDATA_START_BLOCK") {
        Send(script.start_block);
      } else if (*line == "REQUEST_BLOCK" || *line == "REQDATA_BLOCK") {
        Send(script.block_count.empty() ? Number4(static_cast<long>(script.blocks.size()))
                                        : script.block_count);
      } else if (command == "REQUEST_1024DOWN") {
        std::vector<std::uint8_t> block = current < script.blocks.size()
                                              ? script.blocks[current]
                                              : std::vector<std::uint8_t>(1024);
        block.push_back(Sum(block));
        Send(block);
      } else if (command == "1024DOWN_SUCCESS") {
        if (current < script.blocks.size())
          total = static_cast<std::uint8_t>(total + Sum(script.blocks[current]));
        ++current;
      } else if (*line == "REQUEST_TOTALCRC") {
        Send(std::string(1, static_cast<char>(script.total_checksum.value_or(total))));
      } else if (*line == "ack") {
        if (!script.database_request.empty()) Send(script.database_request);
      } else {
        static const std::set<std::string> kBoxLines = {
            "ACK",
            "REQUEST_DOWNLOAD",
            "1024DOWN_ERR",
            "DOWN_SUCCESS",
            "RESPONSE_DOWNLOAD_FAIL",
            "RAMCRC_SUCCESS",
            "SEND_DECODE_SIZE",
            "FLASH_WRITE",
            "4096FLASH_WRITE",
            "FLASHCRC_SUCCESS",
            "BAD CRC ",
            "UPGRADE_SUCCESS",
            "NO_ACKNOWLEDGE with PC.",
            "TargetInfo",
            "FLASH_WRITE_ERROR",
            "5518 DVB-T STB Boot-Loader SW\t Version 2.0.2(new)"};
        known = kBoxLines.contains(command) || command.starts_with("REQUEST_V") ||
                command.starts_with("REQUEST_L");
      }
      if (known || !script.skip_unknown_lines) {
        lines.push_back(*line);
      } else {
        ++skipped_lines;
      }
    }
    return lines;
  }

  std::string flash_record;
  int skipped_lines = 0;

 private:
  int fd_ = -1;
  std::string buffer_;
  std::size_t pos_ = 0;
  std::string partial_;
};

// One simulated box on a fresh pty, served by the scripted PC.
struct BoxRun {
  std::vector<SimulationSummary> summaries;
  std::vector<std::string> lines;
  std::string flash_record;
  int skipped_lines = 0;
};

inline BoxRun RunBox(SimulatorOptions options, const PcScript& script) {
  BoxSimulator box(std::move(options));
  PtyEndpoint pty;
  ScriptedPc pc(pty.slave_path());
  std::atomic<bool> done{false};
  BoxRun run;
  std::thread player([&] {
    run.summaries =
        box.Run(pty.master(), LineHooks{[&] { pty.ReleaseSlave(); }, [&] { pty.CloseMaster(); }});
    done = true;
  });
  run.lines = pc.Serve(script, done);
  box.Stop();
  player.join();
  run.flash_record = pc.flash_record;
  run.skipped_lines = pc.skipped_lines;
  return run;
}

}  // namespace stbup::testing
