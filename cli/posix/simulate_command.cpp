#include "cli/posix/simulate_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "image/image_reader.h"
#include "sim/box_simulator.h"
#include "sim/posix/pty_endpoint.h"
#include "sim/simulation_summary.h"

namespace stbup {
namespace {

constexpr int kExitNotVerified = 1;
// How long the box's last lines stay readable for a tool that has not closed.
constexpr auto kLinger = std::chrono::milliseconds(1000);

// The boxes a signal stops; set before the handler is installed, cleared
// after it is removed.
constexpr int kMaxBoxes = 256;
std::array<std::atomic<BoxSimulator*>, kMaxBoxes> g_running_boxes{};

void StopOnSignal(int) {
  for (auto& slot : g_running_boxes) {
    if (BoxSimulator* box = slot.load()) box->Stop();
  }
}

// Installs the stop handler for SIGINT and SIGTERM while the boxes run.
class SignalStop {
 public:
  explicit SignalStop(const std::vector<std::unique_ptr<BoxSimulator>>& boxes) {
    for (std::size_t i = 0; i < boxes.size() && i < g_running_boxes.size(); ++i) {
      g_running_boxes[i] = boxes[i].get();
    }
    struct sigaction action {};
    action.sa_handler = StopOnSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &old_int_);
    ::sigaction(SIGTERM, &action, &old_term_);
  }
  ~SignalStop() {
    ::sigaction(SIGINT, &old_int_, nullptr);
    ::sigaction(SIGTERM, &old_term_, nullptr);
    for (auto& slot : g_running_boxes) slot = nullptr;
  }
  SignalStop(const SignalStop&) = delete;
  SignalStop& operator=(const SignalStop&) = delete;

 private:
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

// A symlink to the slave for the tool to open, removed when the run ends.
class SlaveLink {
 public:
  SlaveLink(const std::string& link, const std::string& target) : link_(link) {
    if (link_.empty()) return;
    struct stat st {};
    if (::lstat(link_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(link_.c_str());
    if (::symlink(target.c_str(), link_.c_str()) != 0) {
      throw std::runtime_error("cannot link " + link_ + ": " + std::strerror(errno));
    }
  }
  ~SlaveLink() {
    if (!link_.empty()) ::unlink(link_.c_str());
  }
  SlaveLink(const SlaveLink&) = delete;
  SlaveLink& operator=(const SlaveLink&) = delete;

 private:
  std::string link_;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hexadecimal digits, with or without 0x, into a number of at most max_digits.
std::optional<unsigned> ParseHex(std::string text, std::size_t max_digits) {
  if (text.starts_with("0x") || text.starts_with("0X")) text = text.substr(2);
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  unsigned value = 0;
  for (const char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return value;
}

std::optional<std::array<std::int32_t, 3>> ParseTriple(const std::string& text) {
  std::array<std::int32_t, 3> triple{};
  std::size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t dot = i < 2 ? text.find('.', start) : text.size();
    if (dot == std::string::npos) return std::nullopt;
    const auto value = ParseHex(text.substr(start, dot - start), 2);
    if (!value) return std::nullopt;
    triple[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(*value);
    start = dot + 1;
  }
  return triple;
}

// Fills the box's options from the command-line texts; the reason when one is bad.
std::optional<std::string> Resolve(SimulateOptions& o) {
  SimulatorOptions& box = o.box;
  if (o.loader == "v" || o.loader == "5518") {
    box.announcement = LoaderAnnouncement::kVersion;
  } else if (o.loader == "l" || o.loader == "2ll") {
    box.announcement = LoaderAnnouncement::k2LL;
  } else if (o.loader == "mode") {
    box.announcement = LoaderAnnouncement::kMode;
  } else {
    return "--loader must be v, l or mode";
  }
  if (!o.flash_record.empty()) {
    if (o.flash_record.size() != 2 * kFlashInfoSize) return "--flash-record needs 66 hex digits";
    for (int i = 0; i < kFlashInfoSize; ++i) {
      const auto b = ParseHex(o.flash_record.substr(static_cast<std::size_t>(2 * i), 2), 2);
      if (!b) return "--flash-record needs 66 hex digits";
      box.flash_record[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(*b);
    }
  }
  if (!o.flash_size.empty()) {
    const auto size = ParseHex(o.flash_size, 2);
    if (!size) return "--flash-size is one byte in hexadecimal, e.g. 0x21";
    box.flash_record[4] = static_cast<std::uint8_t>(*size);
  }
  if (!o.flash_chip.empty()) {
    const auto chip = ParseHex(o.flash_chip, 4);
    if (!chip) return "--flash-chip is two bytes in hexadecimal, e.g. 2782";
    box.flash_record[5] = static_cast<std::uint8_t>(*chip >> 8);
    box.flash_record[6] = static_cast<std::uint8_t>(*chip & 0xFF);
  }
  if (!o.hardware.empty()) {
    box.hardware_version = ParseTriple(o.hardware);
    if (!box.hardware_version) return "--hw is three hex bytes, e.g. 01.02.03";
  }
  if (!o.software.empty()) {
    box.software_version = ParseTriple(o.software);
    if (!box.software_version) return "--sw is three hex bytes, e.g. 01.02.03";
  }
  box.corrupt_blocks.insert(o.corrupt_blocks.begin(), o.corrupt_blocks.end());
  if (o.silent_after >= 0) box.silent_after = o.silent_after;
  if (o.hangup_after >= 0) box.hangup_after = o.hangup_after;
  if (o.decode_size >= 0) box.decode_size = o.decode_size;
  box.wait_for_reconnect = true;
  if (o.count < 1 || o.count > kMaxBoxes) {
    return "--count must be 1 to " + std::to_string(kMaxBoxes);
  }
  return std::nullopt;
}

}  // namespace

int RunSimulate(SimulateOptions options, CommandIo& io) {
  if (const auto problem = Resolve(options)) {
    PrintError(io.err, *problem);
    return kExitUsage;
  }
  if (!options.image.empty()) {
    try {
      options.box.image = ReadImageInfo(options.image);
    } catch (const std::exception& error) {
      PrintError(io.err, error.what());
      return kExitImageNotAccepted;
    }
  }
  const auto count = static_cast<std::size_t>(options.count);
  std::vector<std::unique_ptr<BoxSimulator>> boxes;
  std::vector<std::unique_ptr<PtyEndpoint>> ptys;
  std::vector<std::unique_ptr<SlaveLink>> links;
  for (std::size_t i = 0; i < count; ++i) {
    SimulatorOptions box = options.box;
    // Each box keeps its own region; noise and chunking differ between them.
    if (!box.out_path.empty() && count > 1) box.out_path += "-" + std::to_string(i + 1);
    box.seed += static_cast<std::uint32_t>(i);
    boxes.push_back(std::make_unique<BoxSimulator>(box));
    ptys.push_back(std::make_unique<PtyEndpoint>());
  }
  for (const auto& pty : ptys) io.out << pty->slave_path() << '\n';
  io.out.flush();
  for (std::size_t i = 0; i < count; ++i) {
    std::string link = options.link;
    if (!link.empty() && count > 1) link += "-" + std::to_string(i + 1);
    links.push_back(std::make_unique<SlaveLink>(link, ptys[i]->slave_path()));
  }
  // One thread per box: each plays its own line, blocking, as a lone box does,
  // and prints its summaries whole as soon as it is done.
  std::vector<std::vector<SimulationSummary>> summaries(count);
  std::mutex output;
  {
    SignalStop stop(boxes);
    std::vector<std::thread> players;
    for (std::size_t i = 0; i < count; ++i) {
      players.emplace_back([&, i] {
        PtyEndpoint& pty = *ptys[i];
        summaries[i] = boxes[i]->Run(
            pty.master(), LineHooks{[&pty] { pty.ReleaseSlave(); }, [&pty] { pty.CloseMaster(); }});
        {
          std::lock_guard<std::mutex> lock(output);
          for (const auto& summary : summaries[i]) io.out << SummaryJson(summary) << '\n';
          io.out.flush();
        }
        if (!summaries[i].empty()) pty.LingerUntilToolCloses(kLinger);
      });
    }
    for (auto& player : players) player.join();
  }
  bool all_verified = true;
  for (const auto& played : summaries) {
    all_verified =
        all_verified && static_cast<int>(played.size()) == std::max(options.box.repeat, 1);
    for (const auto& summary : played) all_verified = all_verified && summary.verdict == "verified";
  }
  return all_verified ? kExitOk : kExitNotVerified;
}

void AddSimulateCommand(CommandRegistry& registry) {
  auto o = std::make_shared<SimulateOptions>();
  CLI::App* sub =
      registry.Add("simulate", "Play a set-top box's boot loader on a fresh pseudo-terminal",
                   [o](CommandIo& io) { return RunSimulate(*o, io); });
  SimulatorOptions& box = o->box;
  sub->footer(
      "Prints the pty's slave path as the first line, waits for the tool's 0x07 or 0x1F, plays "
      "the loader's dialogue, then prints one JSON summary line per box (loader, blocks, "
      "retries, bytes, received_bytes/sent_bytes on the line each way, seconds, "
      "download_seconds from REQUEST_DOWNLOAD to the last block's verdict, "
      "latency_p50_us/latency_p99_us from the end of each REQUEST_1024DOWN line to the 1025th "
      "byte of the answer, verdict, problems).\n"
      "Verdicts: verified, mismatch, no_token, wrong_token, no_ack, bad_geometry, "
      "block_timeout, too_many_retries, download_fail, flash_crc_bad, silent, hung_up, "
      "pc_gone, stopped.\n"
      "Exit status: 0 every box verified its upgrade; 1 otherwise; 2 usage; 3 the image was "
      "not accepted.");

  sub->add_option("--link", o->link,
                  "Also make the slave reachable as this symlink (removed at exit)");
  sub->add_option("--image", o->image,
                  "Check the received region against this image; the box's identity defaults "
                  "to the image's model and versions");
  sub->add_option("--out", box.out_path, "Write the received region to this file");

  sub->add_option("--loader", o->loader,
                  "v: REQUEST_V + version (5518), l: REQUEST_L + version (2LL), mode: "
                  "REQUEST_MODE (old 5518)")
      ->capture_default_str();
  sub->add_option("--version", box.version_digits, "Version digits after REQUEST_V/REQUEST_L")
      ->capture_default_str();
  sub->add_flag("--mode-sentence", box.mode_sentence,
                "Send the loader sentence with \"Version 2.0.2(new)\" before REQUEST_MODE");
  sub->add_flag("--flash-end", box.flash_end_after_info_end,
                "A 2LL box asks BL_FLASH_END after BL_INFO_END");
  sub->add_option("--flash-size", o->flash_size,
                  "Flash size code, byte 4 of the flash record (0x11 1M, 0x21 2M, 0x41 4M, 0x81 "
                  "8M; default 0x21)");
  sub->add_option("--flash-chip", o->flash_chip,
                  "Flash manufacturer and device code, bytes 5-6 (default 2782)");
  sub->add_option("--flash-record", o->flash_record,
                  "All 33 raw bytes of the flash record as 66 hex digits (size and chip options "
                  "apply on top)");
  sub->add_option("--expect-token", box.expect_tokens,
                  "Token the box accepts for its image-type question; repeat for each question "
                  "(default: any known token)");
  sub->add_option("--fields", box.version_fields, "Fields 1-3 of REQUEST_VERSION, comma-separated")
      ->capture_default_str();
  sub->add_option("--model", box.model, "Model name, field 4 of REQUEST_VERSION");
  sub->add_option("--hw", o->hardware, "Hardware version, fields 8-10, e.g. 01.02.03");
  sub->add_option("--sw", o->software, "Software version, fields 5-7, e.g. 01.02.03");

  sub->add_flag("--reqdata", box.reqdata, "Also ask REQDATA_START_BLOCK and REQDATA_BLOCK");
  sub->add_option("--decode-size", o->decode_size,
                  "Send SEND_DECODE_SIZE:N (blocks) after RAMCRC_SUCCESS; N also sets the "
                  "number of 4096FLASH_WRITE lines");
  sub->add_flag("--bad-flash-crc", box.bad_flash_crc,
                "Report \"BAD CRC : Flash image !!\" instead of FLASHCRC_SUCCESS");
  sub->add_flag("--restart-notice", box.restart_notice,
                "After the end, send \"NO_ACKNOWLEDGE with PC.\" as a restarting box does");
  sub->add_option("--target-info", box.target_info, "Send a TargetInfo:TEXT line after ACK");
  sub->add_option("--flash-write-error", box.flash_write_error,
                  "Send a FLASH_WRITE_ERROR:TEXT line during the flash write");
  sub->add_flag("--database-ack", box.database_ack,
                "Send \"ack\" after UPGRADE_SUCCESS and check the tool's database request");
  sub->add_option("--max-retries", box.max_retries, "Tries per block before the box gives up")
      ->capture_default_str();

  sub->add_option("--ack-timeout", box.ack_timeout_ms,
                  "Milliseconds to wait for \"ack\" before \"NO_ACKNOWLEDGE with PC.\"")
      ->capture_default_str();
  sub->add_option("--token-timeout", box.token_timeout_ms,
                  "Milliseconds to wait for an image-type token")
      ->capture_default_str();
  sub->add_option("--reply-timeout", box.reply_timeout_ms,
                  "Milliseconds to wait for a number, a block or the total checksum")
      ->capture_default_str();
  sub->add_option("--restart-gap", box.restart_gap_ms,
                  "Milliseconds between boxes of --repeat, input ignored")
      ->capture_default_str();

  sub->add_option("--power-on", box.power_on_ms,
                  "Milliseconds after the tool's first byte before the box is switched on, "
                  "the tool's bytes until then lost (an operator who starts the tool first)")
      ->check(CLI::Range(0, 3600000));

  sub->add_option("--corrupt-block", o->corrupt_blocks,
                  "Flip a byte of block K on its first receipt (repeatable)");
  sub->add_option("--silent-after", o->silent_after, "Stop answering after block K");
  sub->add_option("--hangup-after", o->hangup_after, "Close the pty master after block K");
  sub->add_flag("--noise", box.noise, "Junk lines and bytes between messages");
  sub->add_flag("--chunked", box.chunked, "Write every line in random small pieces");
  sub->add_option("--slow", box.slow_ms, "Milliseconds of delay before each message");
  sub->add_option("--baud", box.baud, "Pace both directions at N bit/s, 10 bits a byte");
  sub->add_option("--adapter-latency", box.adapter_latency_ms,
                  "Hold the box's bytes as a USB adapter with this latency timer does (MS: "
                  "until 62 bytes have gathered or MS milliseconds have passed)")
      ->check(CLI::Range(0, 255));
  sub->add_option("--repeat", box.repeat, "Play N boxes one after the other")
      ->capture_default_str();
  sub->add_option("--count", o->count,
                  "Play K boxes at once, each on a pty of its own: K paths first, links at "
                  "LINK-1 .. LINK-K, outputs at OUT-1 .. OUT-K")
      ->capture_default_str();
  sub->add_option("--seed", box.seed, "Seed of noise and chunking")->capture_default_str();
}

}  // namespace stbup
