#include "app/core/box_recorder.h"

#include <cstdio>
#include <filesystem>
#include <random>

#include "app/core/box_ending.h"
#include "app/core/main_window.h"
#include "seams/text_format.h"

namespace stbup {

namespace {

using SystemClock = std::chrono::system_clock;
using SteadyClock = std::chrono::steady_clock;

// Version 4 (random) UUID text.
std::string RandomUuid() {
  thread_local std::mt19937_64 generator = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  const std::uint64_t high = (generator() & 0xFFFFFFFFFFFF0FFFULL) | 0x0000000000004000ULL;
  const std::uint64_t low = (generator() & 0x3FFFFFFFFFFFFFFFULL) | 0x8000000000000000ULL;
  char text[40];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                static_cast<unsigned>(low >> 48),
                static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFULL));
  return text;
}

// A file name that is valid UTF-8 is kept as it is, so it still names the
// file; any other goes byte by byte.
std::string PathText(const std::string& path) {
  std::size_t i = 0;
  while (i < path.size()) {
    const auto byte = static_cast<unsigned char>(path[i]);
    const std::size_t length = byte < 0x80           ? 1
                               : (byte >> 5) == 0x6  ? 2
                               : (byte >> 4) == 0xE  ? 3
                               : (byte >> 3) == 0x1E ? 4
                                                     : 0;
    if (length == 0 || i + length > path.size()) return BytesToUtf8(path);
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(path[i + k]) >> 6) != 0x2) return BytesToUtf8(path);
    }
    i += length;
  }
  return path;
}

// A line from the box can be 64 KiB long; the tail is for reading.
constexpr std::size_t kTailLineLength = 240;

std::string Hex4(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%4.4X", value);
  return text;
}

}  // namespace

void BoxRecorder::Tail::AddMemoLine(std::string_view line) {
  lines.emplace_back(line);
  if (lines.size() > kTailLines) lines.pop_front();
}

BoxRecorder::BoxRecorder(RecordSink& sink, Where where) : sink_(sink), where_(std::move(where)) {
  Await();
}

void BoxRecorder::Await() {
  awaited_at_ = SystemClock::now();
  awaited_steady_ = SteadyClock::now();
  announced_at_.reset();
  announced_ = false;
  identified_ = false;
  finished_ = false;
  // The last box's lines are its own record's.
  tap_.lines.clear();
}

void BoxRecorder::Observe(RunEvent event) {
  switch (event) {
    case RunEvent::kAnnounced:
      // A box that starts its dialogue again is still the same box: its
      // record begins at its first announcement.
      if (!announced_at_) {
        announced_at_ = SystemClock::now();
        announced_steady_ = SteadyClock::now();
      }
      announced_ = true;
      break;
    case RunEvent::kAccepted:
    case RunEvent::kRefused:
      identified_ = true;
      break;
    case RunEvent::kUpgradeSuccess:
    case RunEvent::kSuccessAfterFailure:
    case RunEvent::kNormalStart:
      break;
  }
}

void BoxRecorder::Finish(const MainWindow& window, Verdict verdict, int exit_status) {
  if (finished_) return;
  finished_ = true;
  const Engine& engine = window.GetEngine();
  const ExchangeState& state = engine.State();
  const ImageInfo& image = window.Image();

  BoxRecord record;
  record.record_id = RandomUuid();
  record.started_at = FormatUtcTimestamp(announced_at_.value_or(awaited_at_));
  record.ended_at = FormatUtcTimestamp(SystemClock::now());
  record.seconds = std::chrono::duration<double>(
                       SteadyClock::now() - (announced_at_ ? announced_steady_ : awaited_steady_))
                       .count();
  record.station = where_.station;
  record.front_end = where_.front_end;
  record.operator_name = where_.operator_name;
  record.work_order = where_.work_order;
  record.port = where_.port.empty() ? window.PortText() : where_.port;

  // What the exchange state holds is this box's only once the box has told
  // it; before that it may be an earlier box's.
  if (announced_) {
    record.loader_kind = state.LoaderKind == kLoader2LL ? "2LL" : "5518";
    record.loader_version = Hex4(state.LoaderVersion);
    record.blocks_sent = engine.Tally().BlocksSent;
    record.blocks_retried = engine.Tally().BlocksRetried;
  }
  if (identified_) {
    record.flash_size = state.TargetFlashSize;
    record.flash_chip = Hex4(static_cast<std::uint32_t>(state.TargetFlashId));
    record.box_model = BytesToUtf8(state.TargetInfo.ModelName);
    record.box_hw = FormatVersionTriple(state.TargetInfo.HardwareVersion);
    record.box_sw = FormatVersionTriple(state.TargetInfo.SoftwareVersion);
  }

  if (!image.ImageFileName.empty()) {
    std::error_code error;
    const auto absolute = std::filesystem::absolute(image.ImageFileName, error);
    record.image_path = PathText(error ? image.ImageFileName : absolute.string());
    const auto size = std::filesystem::file_size(image.ImageFileName, error);
    if (!error) record.image_size = static_cast<std::int64_t>(size);
  }
  record.image_model = BytesToUtf8(image.ModelName);
  record.image_hw = FormatVersionTriple(image.HardwareVersion);
  record.image_sw = FormatVersionTriple(image.SoftwareVersion);
  record.image_type = BytesToUtf8(image.TypeName);

  record.verdict = verdict;
  record.exit_status = exit_status;
  if (verdict != Verdict::kUpgraded && verdict != Verdict::kAccepted) {
    for (const std::string& line : tap_.lines) {
      if (!record.log_tail.empty()) record.log_tail += '\n';
      record.log_tail += BytesToUtf8(line.substr(0, kTailLineLength));
      if (line.size() > kTailLineLength) record.log_tail += "...";
    }
  }
  sink_.Append(std::move(record));
}

std::optional<Verdict> WindowVerdictOf(RunEvent event, bool box_in_progress) {
  const auto ending = EndingOfRunEvent(event, BoxSoFar{.announced = box_in_progress});
  if (!ending) return std::nullopt;
  return ending->verdict;
}

}  // namespace stbup
