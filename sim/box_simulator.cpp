#include "sim/box_simulator.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>

#include "image/scramble_key.h"
#include "seams/errors.h"
#include "seams/text_format.h"
#include "sim/box_line.h"
#include "sim/expected_region.h"
#include "sim/line_noise.h"

namespace stbup {
namespace {

// Every reply token a tool may send to an image-type question.
constexpr std::array<std::string_view, 20> kKnownTokens = {
    "BL___", "LD___", "NL___", "2L___", "XXLOD", "BL128", "LD128", "NL128", "BL256", "LD256",
    "NL256", "2L256", "NADAT", "ATSKY", "JIGLD", "JIGCD", "UPZIP", "PC___", "NONE",  " =@ %"};

constexpr std::string_view kLoaderSentence = "5518 DVB-T STB Boot-Loader SW\t Version 2.0.2(new)";
constexpr std::string_view kNormalStart = "NO_ACKNOWLEDGE with PC.";
// The largest flash of any box holds 8192 blocks.
constexpr std::int32_t kMaxBlocks = 8192;
// After the fourth digit of a number, how long a fifth may take to follow
// beyond its own time on the line. A tool writes its answer whole, so a fifth
// digit comes with the fourth; every moment waited here is charged to the
// tool's time on the line, twice an upgrade.
constexpr auto kDigitGrace = std::chrono::milliseconds(1);
constexpr auto kReconnectPause = std::chrono::milliseconds(50);
constexpr auto kHangUpGrace = std::chrono::milliseconds(100);

bool IsWakeByte(std::uint8_t b) { return b == 0x07 || b == 0x1F; }

std::string Hex2(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", v & 0xFF);
  return text;
}

std::string LowerHexTriple(const std::array<std::int32_t, 3>& v) {
  char text[64];
  std::snprintf(text, sizeof text, "%02x,%02x,%02x", static_cast<unsigned>(v[0]),
                static_cast<unsigned>(v[1]), static_cast<unsigned>(v[2]));
  return text;
}

// The tool is up and polling before the box is switched on, power_on_ms after
// the tool's first byte. That byte is the tool's contact, so the hook is
// spent here. A tool that leaves and comes back meanwhile finds the box off
// until its time. False when the simulator was stopped meanwhile.
bool SwitchOnLater(BoxLine& line, const SimulatorOptions& options, LineHooks& hooks) {
  try {
    std::uint8_t first = 0;
    if (!line.PeekByte(SimClock::time_point::max(), first)) return true;
    if (auto contact = std::exchange(hooks.on_first_contact, nullptr)) contact();
    const auto on_at = SimClock::now() + std::chrono::milliseconds(options.power_on_ms);
    for (;;) {
      try {
        line.DiscardUntil(on_at);
        return true;
      } catch (const LineClosed&) {
        if (!options.wait_for_reconnect || SimClock::now() >= on_at) return true;
        line.PauseUntil(std::min(SimClock::now() + kReconnectPause, on_at));
      }
    }
  } catch (const LineClosed&) {
    return true;  // the first box's wait for its wake-up byte says what became of the line
  } catch (const SimulatorStopped&) {
    return false;
  }
}

// The box ends its dialogue by starting its own software, as a real loader
// does when the tool does not answer as it must.
struct GiveUp {
  std::string verdict;
  std::string problem;
};

// The box ends without a further line.
struct EndBox {
  std::string verdict;
};

}  // namespace

class BoxSimulator::Session {
 public:
  Session(const SimulatorOptions& options, const std::vector<std::uint8_t>& image_file,
          BoxLine& line, LineHooks& hooks, std::mt19937& random)
      : options_(options), image_file_(image_file), line_(line), hooks_(hooks), random_(random) {}

  bool line_dead() const { return line_dead_; }
  bool stopped() const { return stopped_; }

  // One box: false when no wake-up byte came before the line ended.
  std::optional<SimulationSummary> Play(const std::string& announcement,
                                        const std::string& version_argument) {
    summary_.loader = announcement;
    version_argument_ = version_argument;
    if (!WaitForWake()) return std::nullopt;
    const auto start = SimClock::now();
    try {
      try {
        Identify();
        AskGeometry();
        Download();
        Finish();
      } catch (const GiveUp& g) {
        if (!g.problem.empty()) summary_.problems.push_back(g.problem);
        summary_.verdict = g.verdict;
        SayLast(kNormalStart);
      } catch (const EndBox& e) {
        summary_.verdict = e.verdict;
        if (options_.restart_notice && !line_dead_ && !stopped_) SayLast(kNormalStart);
      }
    } catch (const SimulatorStopped&) {
      stopped_ = true;  // the verdict reached so far stands
    } catch (const LineClosed& e) {
      line_dead_ = true;
      summary_.verdict = "pc_gone";
      summary_.problems.push_back(std::string("the tool's end of the line went away: ") + e.what());
    }
    summary_.seconds = std::chrono::duration<double>(SimClock::now() - start).count();
    summary_.latency_p50_us = Percentile(latencies_us_, 50);
    summary_.latency_p99_us = Percentile(latencies_us_, 99);
    summary_.received_bytes = line_.received_bytes() - received_at_start_;
    summary_.sent_bytes = line_.sent_bytes() - sent_at_start_;
    WriteOut();
    return summary_;
  }

 private:
  bool WaitForWake() {
    for (;;) {
      try {
        std::uint8_t b = 0;
        while (line_.ReadByte(SimClock::time_point::max(), b)) {
          if (IsWakeByte(b)) {
            if (!contacted_ && hooks_.on_first_contact) hooks_.on_first_contact();
            contacted_ = true;
            received_at_start_ = line_.received_bytes();
            sent_at_start_ = line_.sent_bytes();
            return true;
          }
        }
      } catch (const LineClosed&) {
        if (!options_.wait_for_reconnect) {
          line_dead_ = true;
          return false;
        }
        line_.PauseUntil(SimClock::now() + kReconnectPause);
      } catch (const SimulatorStopped&) {
        stopped_ = true;
        return false;
      }
    }
  }

  // One message of the box, after the configured pause and any noise lines.
  void Say(std::string_view line, std::span<const std::uint8_t> raw_after = {}) {
    line_.Write(Compose(line, raw_after));
  }

  // The same for a message the box follows at once with its next one: both
  // leave the box in one write.
  void SayBeforeNext(std::string_view line) { line_.WriteWithNext(Compose(line, {})); }

  // A message as it leaves the box, once the pause and the noise before it
  // are over.
  std::string Compose(std::string_view line, std::span<const std::uint8_t> raw_after) {
    if (options_.slow_ms > 0) {
      line_.PauseUntil(SimClock::now() + std::chrono::milliseconds(options_.slow_ms));
    }
    if (options_.noise) {
      for (int n = std::uniform_int_distribution<int>(-2, 2)(random_); n > 0; --n) {
        line_.Write(NoiseLine(random_));
      }
    }
    std::string message(line);
    message += '\n';
    message.append(raw_after.begin(), raw_after.end());
    return message;
  }

  // The box's closing line: the tool may already have left, and that does not
  // change how the box ended.
  void SayLast(std::string_view line) {
    try {
      Say(line);
    } catch (const LineClosed&) {
      line_dead_ = true;
    }
  }

  SimClock::time_point After(int ms) const {
    return SimClock::now() + std::chrono::milliseconds(ms);
  }

  // Bytes until one of the known tokens has arrived whole.
  std::optional<std::string> ReadToken(const std::string& question) {
    const auto deadline = After(options_.token_timeout_ms);
    std::string got;
    std::uint8_t b = 0;
    while (line_.ReadByte(deadline, b)) {
      if (IsWakeByte(b)) continue;
      got += static_cast<char>(b);
      for (const auto token : kKnownTokens) {
        if (got.size() >= token.size() &&
            std::string_view(got).substr(got.size() - token.size()) == token) {
          if (got.size() > token.size()) {
            summary_.problems.push_back("stray bytes \"" +
                                        got.substr(0, got.size() - token.size()) +
                                        "\" before the answer to " + question);
          }
          return std::string(token);
        }
      }
      if (got.size() > 256) got.erase(0, got.size() - 16);
    }
    if (!got.empty()) {
      summary_.problems.push_back("answer to " + question + " is no token: \"" + got + "\"");
    }
    return std::nullopt;
  }

  void Ask(const std::string& question) {
    Say(question);
    const auto token = ReadToken(question);
    if (!token) throw GiveUp{"no_token", "no token for " + question};
    summary_.token = *token;
    const auto& expected = options_.expect_tokens;
    if (!expected.empty()) {
      const std::string& want = expected[std::min(questions_, expected.size() - 1)];
      if (*token != want) {
        throw GiveUp{"wrong_token",
                     question + " answered \"" + *token + "\", want \"" + want + "\""};
      }
    }
    ++questions_;
  }

  void Identify() {
    if (options_.announcement == LoaderAnnouncement::kMode) {
      if (options_.mode_sentence) Say(kLoaderSentence);
      // The old loader's own question: its reply is the image-type token.
      Ask(summary_.loader);
    } else {
      Say(summary_.loader);
      Say("BL_FLASH_INFO", options_.flash_record);
      if (options_.announcement == LoaderAnnouncement::k2LL) {
        Ask("BL_INFO_END");
        if (options_.flash_end_after_info_end) Ask("BL_FLASH_END");
      } else {
        Ask("BL_FLASH_END");
      }
    }
    Say("REQUEST_VERSION:" + version_argument_);
    WaitForAck();
    Say("ACK");
    if (!options_.target_info.empty()) Say("TargetInfo:" + options_.target_info);
  }

  void WaitForAck() {
    const auto deadline = After(options_.ack_timeout_ms);
    std::string got;
    std::uint8_t b = 0;
    while (line_.ReadByte(deadline, b)) {
      if (IsWakeByte(b)) continue;
      got += static_cast<char>(b);
      if (got.size() >= 3 && got.compare(got.size() - 3, 3, "ack") == 0) {
        if (got.size() > 3) {
          summary_.problems.push_back("stray bytes \"" + got.substr(0, got.size() - 3) +
                                      "\" before \"ack\"");
        }
        return;
      }
      if (got.size() > 256) got.erase(0, got.size() - 16);
    }
    throw GiveUp{"no_ack", got.empty()
                               ? std::string()
                               : "answer to REQUEST_VERSION is not \"ack\": \"" + got + "\""};
  }

  // A geometry question: at least four decimal digits, no terminator.
  std::int32_t AskNumber(const std::string& question) {
    Say(question);
    const auto deadline = After(options_.reply_timeout_ms);
    std::string digits;
    std::string stray;
    std::uint8_t b = 0;
    while (digits.size() < 4) {
      if (!line_.ReadByte(deadline, b)) {
        throw GiveUp{"bad_geometry",
                     "no four-digit answer to " + question + " (got \"" + stray + digits + "\")"};
      }
      if (b >= '0' && b <= '9') {
        digits += static_cast<char>(b);
      } else if (!digits.empty()) {
        throw GiveUp{"bad_geometry",
                     question + " answered \"" + digits + static_cast<char>(b) + "\""};
      } else if (!IsWakeByte(b)) {
        stray += static_cast<char>(b);
      }
    }
    while (line_.PeekByte(SimClock::now() + kDigitGrace + line_.ByteTime(1), b) && b >= '0' &&
           b <= '9' && digits.size() < 10) {
      line_.ReadByte(deadline, b);
      digits += static_cast<char>(b);
    }
    if (!stray.empty()) {
      summary_.problems.push_back("stray bytes \"" + stray + "\" before the answer to " + question);
    }
    const std::int64_t value = std::stoll(digits);
    if (FormatBlockNumber(value) != digits) {
      summary_.problems.push_back(question + " answered \"" + digits + "\", not %4.4d");
    }
    if (value > kMaxBlocks * 2) {
      throw GiveUp{"bad_geometry", question + " answered " + digits + ", beyond any flash"};
    }
    return static_cast<std::int32_t>(value);
  }

  void AskGeometry() {
    summary_.start_block = AskNumber("REQUEST_START_BLOCK");
    summary_.block_count = AskNumber("REQUEST_BLOCK");
    if (options_.reqdata) {
      const auto start = AskNumber("REQDATA_START_BLOCK");
      const auto count = AskNumber("REQDATA_BLOCK");
      if (start != summary_.start_block || count != summary_.block_count) {
        summary_.problems.push_back("REQDATA geometry " + std::to_string(start) + "/" +
                                    std::to_string(count) + " differs from " +
                                    std::to_string(summary_.start_block) + "/" +
                                    std::to_string(summary_.block_count));
      }
    }
    if (summary_.block_count > kMaxBlocks) {
      throw GiveUp{"bad_geometry", "REQUEST_BLOCK answered " +
                                       std::to_string(summary_.block_count) +
                                       ", more blocks than any flash holds"};
    }
    if (options_.image) {
      if (summary_.start_block != options_.image->StartBlock) {
        summary_.problems.push_back("start block " + std::to_string(summary_.start_block) +
                                    ", the image says " +
                                    std::to_string(options_.image->StartBlock));
      }
      if (summary_.block_count != options_.image->BlockCount) {
        summary_.problems.push_back("block count " + std::to_string(summary_.block_count) +
                                    ", the image says " +
                                    std::to_string(options_.image->BlockCount));
      }
    }
  }

  void Download() {
    const std::int32_t count = summary_.block_count;
    // The flash is ready before the first block is asked for: its pages are
    // touched now, not one by one between the tool's blocks.
    region_.assign(static_cast<std::size_t>(count) * kBlockSize, 0);
    region_.clear();
    const auto started = SimClock::now();
    Say("REQUEST_DOWNLOAD");
    latencies_us_.reserve(static_cast<std::size_t>(count));
    std::array<std::uint8_t, kBlockSize + 1> block{};
    for (std::int32_t k = 0; k < count; ++k) {
      const std::string number = FormatBlockNumber(k);
      bool first_receipt = true;
      for (int tries = 0;; ++tries) {
        Say("REQUEST_1024DOWN:" + number);
        const auto asked = SimClock::now();
        if (!line_.ReadExact(block, After(options_.reply_timeout_ms))) {
          throw GiveUp{"block_timeout", "block " + number + " did not arrive whole"};
        }
        latencies_us_.push_back(
            std::chrono::duration_cast<std::chrono::microseconds>(SimClock::now() - asked).count());
        if (first_receipt && options_.corrupt_blocks.contains(k)) {
          block[static_cast<std::size_t>(k) % kBlockSize] ^= 0xFF;
        }
        first_receipt = false;
        std::uint8_t sum = 0;
        for (int i = 0; i < kBlockSize; ++i) sum = static_cast<std::uint8_t>(sum + block[i]);
        if (sum == block[kBlockSize]) {
          // What the box says next (the next request, or the total's) follows at once.
          SayBeforeNext("1024DOWN_SUCCESS:" + number);
          region_.insert(region_.end(), block.begin(), block.begin() + kBlockSize);
          total_ = static_cast<std::uint8_t>(total_ + sum);
          break;
        }
        Say("1024DOWN_ERR:" + number);
        ++summary_.retries;
        if (tries + 1 >= options_.max_retries) {
          throw GiveUp{"too_many_retries", "block " + number + " failed its sum " +
                                               std::to_string(tries + 1) + " times"};
        }
      }
      ++summary_.blocks;
      summary_.bytes += kBlockSize;
      summary_.download_seconds = std::chrono::duration<double>(SimClock::now() - started).count();
      if (options_.silent_after && *options_.silent_after == k) GoSilent();
      if (options_.hangup_after && *options_.hangup_after == k) HangUp();
    }
  }

  [[noreturn]] void GoSilent() {
    try {
      line_.DiscardUntil(SimClock::time_point::max());
    } catch (const LineClosed&) {
      line_dead_ = true;
    } catch (const SimulatorStopped&) {
      stopped_ = true;
    }
    throw EndBox{"silent"};
  }

  [[noreturn]] void HangUp() {
    // Closing a pty master discards what the tool has not read yet; give it
    // the moment a real box's last line would have taken.
    line_.PauseUntil(SimClock::now() + kHangUpGrace);
    line_dead_ = true;
    if (hooks_.hang_up) hooks_.hang_up();
    throw EndBox{"hung_up"};
  }

  void Finish() {
    Say("REQUEST_TOTALCRC");
    // Any byte is the answer: a checksum may well be 0x07 or 0x1F.
    std::uint8_t answer = 0;
    const bool got = line_.ReadByte(After(options_.reply_timeout_ms), answer);
    if (!got || answer != total_) {
      summary_.problems.push_back(got ? "total checksum " + Hex2(answer) + ", want " + Hex2(total_)
                                      : std::string("no answer to REQUEST_TOTALCRC"));
      Say("RESPONSE_DOWNLOAD_FAIL");
      throw EndBox{"download_fail"};
    }
    Say("DOWN_SUCCESS");
    Say("RAMCRC_SUCCESS");
    std::int64_t flash_bytes = static_cast<std::int64_t>(summary_.block_count) * kBlockSize;
    if (options_.decode_size) {
      Say("SEND_DECODE_SIZE:" + std::to_string(*options_.decode_size));
      flash_bytes = static_cast<std::int64_t>(*options_.decode_size) * kBlockSize;
    }
    Say("FLASH_WRITE");
    if (!options_.flash_write_error.empty()) {
      Say("FLASH_WRITE_ERROR:" + options_.flash_write_error);
    }
    for (std::int64_t written = 0; written < flash_bytes; written += 4096) Say("4096FLASH_WRITE");
    if (options_.bad_flash_crc) {
      Say("BAD CRC : Flash image !!");
      throw EndBox{"flash_crc_bad"};
    }
    Say("FLASHCRC_SUCCESS");
    Say("UPGRADE_SUCCESS");
    if (options_.database_ack) CheckDatabaseRequest();
    if (options_.image) {
      summary_.image_checked = true;
      for (auto& finding :
           CompareRegion(*options_.image, image_file_, FamilyOf(options_.announcement), region_)) {
        summary_.problems.push_back(std::move(finding));
      }
    }
    throw EndBox{summary_.problems.empty() ? "verified" : "mismatch"};
  }

  std::string ReadLine(SimClock::time_point deadline) {
    std::string text;
    std::uint8_t b = 0;
    while (line_.ReadByte(deadline, b)) {
      if (b == '\n') return text;
      text += static_cast<char>(b);
      if (text.size() > 300) break;
    }
    return text + "(unfinished)";
  }

  // The tool answers a box's "ack" by asking for the database region.
  void CheckDatabaseRequest() {
    Say("ack");
    const auto deadline = After(options_.reply_timeout_ms);
    const std::string first = ReadLine(deadline);
    if (first != "REQUEST_DOWNLOAD") {
      summary_.problems.push_back("database request began \"" + first + "\"");
      return;
    }
    const std::string second = ReadLine(deadline);
    const std::string prefix = "REQUEST_1024DOWN:";
    std::string want;
    if (options_.announcement == LoaderAnnouncement::kMode) {
      want = "0768";
    } else {
      const std::uint8_t size = options_.flash_record[4];
      const bool jig = options_.image && (options_.image->TypeName == "JLOADER" ||
                                          options_.image->TypeName == "JCODE");
      if (size == 0x21) {
        want = jig ? "0768" : "1024";
      } else if (size != 0x41 && size != 0x81) {
        want = "0768";
      }
    }
    const bool digits_ok = second.size() >= prefix.size() + 4 &&
                           second.compare(0, prefix.size(), prefix) == 0 &&
                           std::all_of(second.begin() + static_cast<long>(prefix.size()),
                                       second.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits_ok || (!want.empty() && second != prefix + want)) {
      summary_.problems.push_back("database block request \"" + second + "\"" +
                                  (want.empty() ? std::string() : ", want " + prefix + want));
    }
  }

  void WriteOut() {
    if (options_.out_path.empty()) return;
    std::ofstream out(options_.out_path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(region_.data()),
              static_cast<std::streamsize>(region_.size()));
    if (!out) summary_.problems.push_back("cannot write " + options_.out_path);
  }

  const SimulatorOptions& options_;
  const std::vector<std::uint8_t>& image_file_;
  BoxLine& line_;
  LineHooks& hooks_;
  std::mt19937& random_;
  SimulationSummary summary_;
  std::string version_argument_;
  std::vector<std::uint8_t> region_;
  std::vector<std::int64_t> latencies_us_;
  std::uint8_t total_ = 0;
  std::size_t questions_ = 0;
  std::uint64_t received_at_start_ = 0;
  std::uint64_t sent_at_start_ = 0;
  bool contacted_ = false;
  bool line_dead_ = false;
  bool stopped_ = false;
};

BoxSimulator::BoxSimulator(SimulatorOptions options) : options_(std::move(options)) {
  if (options_.image) {
    const std::string& path = options_.image->ImageFileName;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw EFileError::CannotOpen(path, errno);
    image_file_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
}

BoxSimulator::~BoxSimulator() = default;

void BoxSimulator::Stop() noexcept {
  stop_requested_.store(true);
  stopping_.fetch_add(1);
  if (BoxChannel* channel = running_.load()) channel->Stop();
  stopping_.fetch_sub(1);
}

std::string BoxSimulator::AnnouncementText() const {
  switch (options_.announcement) {
    case LoaderAnnouncement::kVersion:
      return "REQUEST_V" + options_.version_digits;
    case LoaderAnnouncement::k2LL:
      return "REQUEST_L" + options_.version_digits;
    case LoaderAnnouncement::kMode:
      break;
  }
  return "REQUEST_MODE";
}

std::string BoxSimulator::VersionArgument() const {
  const ImageInfo* image = options_.image ? &*options_.image : nullptr;
  const std::string model = options_.model ? *options_.model : image ? image->ModelName : "BOX";
  const std::array<std::int32_t, 3> none{};
  const auto software = options_.software_version ? *options_.software_version
                        : image                   ? image->SoftwareVersion
                                                  : none;
  const auto hardware = options_.hardware_version ? *options_.hardware_version
                        : image                   ? image->HardwareVersion
                                                  : none;
  return options_.version_fields + "," + model + "," + LowerHexTriple(software) + "," +
         LowerHexTriple(hardware);
}

std::vector<SimulationSummary> BoxSimulator::Run(BoxChannel& channel, LineHooks hooks) {
  if (!hooks.hang_up) hooks.hang_up = [&channel] { channel.HangUp(); };
  // Either Stop finds the channel here, or this finds the stop asked for.
  running_.store(&channel);
  struct Release {
    BoxSimulator& box;
    ~Release() {
      box.running_.store(nullptr);
      // A Stop that found the channel may still be using it.
      while (box.stopping_.load() != 0) std::this_thread::yield();
    }
  } release{*this};
  if (stop_requested_.load()) channel.Stop();
  std::vector<SimulationSummary> summaries;
  BoxLine line(channel, LinePacing{options_.baud, options_.chunked, options_.seed,
                                   options_.adapter_latency_ms});
  std::mt19937 random(options_.seed);
  const std::string announcement = AnnouncementText();
  const std::string argument = VersionArgument();
  bool contacted = false;
  if (options_.power_on_ms > 0 && !SwitchOnLater(line, options_, hooks)) return summaries;
  for (int box = 0; box < std::max(options_.repeat, 1); ++box) {
    if (box > 0) {
      // A power cycle: what the tool sends meanwhile is not for the next box.
      try {
        line.DiscardUntil(SimClock::now() + std::chrono::milliseconds(options_.restart_gap_ms));
      } catch (const LineClosed&) {
        if (!options_.wait_for_reconnect) break;
      } catch (const SimulatorStopped&) {
        break;
      }
    }
    LineHooks box_hooks = hooks;
    if (contacted) box_hooks.on_first_contact = nullptr;
    Session session(options_, image_file_, line, box_hooks, random);
    auto summary = session.Play(announcement, argument);
    try {
      line.FlushHeld();  // the box's last words, still in the adapter
    } catch (const LineClosed&) {
    } catch (const SimulatorStopped&) {
    }
    if (!summary) break;
    contacted = true;
    summaries.push_back(std::move(*summary));
    if (session.line_dead() || session.stopped()) break;
  }
  return summaries;
}

}  // namespace stbup
