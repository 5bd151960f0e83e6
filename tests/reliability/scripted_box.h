#pragma once

// A hand-played box for the faults the simulator has no option for: it runs
// the 5518 dialogue step by step on the master of a pty, so a test can stop
// it at any phase, glue junk before a line, cut lines into single bytes or
// hang up in the middle of the identification.

#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "tests/support/pty_pair.h"

namespace stbup::testing {

class ScriptedBox {
 public:
  // The identification a box made for the harness's image reports.
  static constexpr std::string_view kVersionLine = "REQUEST_VERSION:00,00,00,ABC,0a,0b,0c,01,02,03";

  explicit ScriptedBox(PtyPair& pty) : pty_(pty) {}

  // Every line goes out one byte at a time, each its own write.
  void SetBytewise(bool bytewise) { bytewise_ = bytewise; }

  // Waits for the tool's 0x07 or 0x1F.
  bool WaitForWake(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      const std::string got = pty_.Read(1, std::chrono::milliseconds(100));
      if (got == "\x07" || got == "\x1f") return true;
    }
    return false;
  }

  void Say(std::string_view line) { Send(std::string(line) + "\n"); }

  void Send(std::string_view bytes) {
    if (!bytewise_) {
      pty_.Write(bytes);
      return;
    }
    for (const char byte : bytes) {
      pty_.Write(std::string_view(&byte, 1));
      // Long enough for the tool to read each byte on its own.
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }

  enum class Wake { kBeforeAnswer, kAnywhere, kNever };

  // Bytes of an answer, leaving out the wake-up bytes that may still be in
  // flight before it (or, while the tool polls again, anywhere in a text).
  std::string Answer(std::size_t count, Wake skip = Wake::kBeforeAnswer) {
    const auto deadline = Clock::now() + kAnswerTime;
    std::string got;
    while (got.size() < count && Clock::now() < deadline) {
      const std::string byte = pty_.Read(1, std::chrono::milliseconds(50));
      if (byte.empty()) continue;
      const bool wake = byte == "\x07" || byte == "\x1f";
      if (wake && (skip == Wake::kAnywhere || (skip == Wake::kBeforeAnswer && got.empty()))) {
        continue;
      }
      got += byte;
    }
    return got;
  }

  // Whatever the tool sends within the time, for answers that must not come.
  std::string Quiet(std::chrono::milliseconds time) { return pty_.ReadUntilQuiet(time); }

  // --- the steps of one 5518 upgrade, each with the answer it must get

  void Announce() { Say("REQUEST_V217"); }
  void FlashInfo() {
    std::array<char, 33> record{};
    // 1 Mbyte, SST FLASH-1M: a small image is meant for it.
    record[4] = 0x11;
    record[5] = 0x27;
    record[6] = static_cast<char>(0x81);
    Send("BL_FLASH_INFO\n" + std::string(record.data(), record.size()));
  }
  std::string FlashEnd() {
    Say("BL_FLASH_END");
    return Answer(5);
  }
  std::string Version() {
    Say(kVersionLine);
    return Answer(3);
  }
  void Ack() { Say("ACK"); }
  std::string Number(std::string_view question) {
    Say(question);
    return Answer(4);
  }
  void StartDownload() {
    total_ = 0;
    Say("REQUEST_DOWNLOAD");
  }
  // One block: its 1024 bytes and sum, acknowledged when the sum is right.
  bool Block(int k) {
    char number[8];
    std::snprintf(number, sizeof number, "%4.4d", k);
    Say(std::string("REQUEST_1024DOWN:") + number);
    const std::string block = Answer(1025, Wake::kNever);
    if (block.size() != 1025) return false;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 1024; ++i) sum = static_cast<std::uint8_t>(sum + block[i]);
    if (sum != static_cast<std::uint8_t>(block[1024])) return false;
    total_ = static_cast<std::uint8_t>(total_ + sum);
    Say(std::string("1024DOWN_SUCCESS:") + number);
    return true;
  }
  bool TotalChecksum() {
    Say("REQUEST_TOTALCRC");
    const std::string got = Answer(1, Wake::kNever);
    return got.size() == 1 && static_cast<std::uint8_t>(got[0]) == total_;
  }
  void FlashWrite(int steps) {
    Say("DOWN_SUCCESS");
    Say("RAMCRC_SUCCESS");
    Say("FLASH_WRITE");
    for (int i = 0; i < steps; ++i) Say("4096FLASH_WRITE");
  }
  void Finish() {
    Say("FLASHCRC_SUCCESS");
    Say("UPGRADE_SUCCESS");
  }
  void NormalStart() { Say("NO_ACKNOWLEDGE with PC."); }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kAnswerTime{3000};

  PtyPair& pty_;
  bool bytewise_ = false;
  std::uint8_t total_ = 0;
};

}  // namespace stbup::testing
