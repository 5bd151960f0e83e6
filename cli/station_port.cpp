#include "cli/station_port.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <variant>

#include "cli/console_view.h"
#include "seams/errors.h"
#include "seams/exit_status.h"

namespace stbup {
namespace {

// The banner's caption while no box has spoken.
constexpr std::string_view kIdleLogo = "Simple and Speedy";
constexpr std::string_view kWaiting = "waiting for a box";

// What the row says of a warning: its reason without the marks around it.
std::string ReasonText(std::string_view reason) {
  while (!reason.empty() && (reason.front() == '>' || reason.front() == ' ')) {
    reason.remove_prefix(1);
  }
  while (!reason.empty() && reason.back() == ' ') reason.remove_suffix(1);
  return std::string(reason);
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

}  // namespace

std::string StationFileName(std::string_view port) {
  // One-to-one: "/" is "_", so a "_" of the name itself, "%", "+" and any
  // byte a file name had better not hold are written %XX. The leading "/" of
  // a device path is dropped; a name that is neither a path with a folder
  // (/dev/ttyUSB0) nor a plain name (COM3) starts with "+", so "/COM3" and
  // "COM3", or "dev/x" and "/dev/x", stay apart.
  const bool absolute = port.starts_with('/');
  std::string_view rest = absolute ? port.substr(1) : port;
  const bool has_folder = rest.find('/') != std::string_view::npos;
  std::string name = absolute == has_folder ? "" : "+";
  for (const char c : rest) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '/') {
      name += '_';
    } else if (std::isalnum(byte) != 0 || c == '-' || c == '.') {
      name += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      name += escaped;
    }
  }
  // Names the file system keeps for itself: "." and "..", escaped; "" (no
  // port at all) and "/" are told apart by a "%" no escape ends with.
  if (name == "." || name == "..") {
    std::string dots;
    for (std::size_t k = 0; k < name.size(); ++k) dots += "%2E";
    return dots;
  }
  if (port.empty()) return "%";
  if (name.empty()) return "+";
  return name;
}

StationPort::StationPort(std::string port, Files files, Listener listener)
    : port_(std::move(port)), listener_(std::move(listener)), files_(files) {
  row_.port = port_;
  row_.phase = "not open";
  if (!files.log.empty()) {
    log_.open(files.log, std::ios::binary | std::ios::trunc);
    if (!log_) throw EFileError::CannotCreate(files.log, errno);
  }
  if (!files.trace.empty()) {
    trace_file_.open(files.trace, std::ios::binary | std::ios::trunc);
    if (!trace_file_) throw EFileError::CannotCreate(files.trace, errno);
    trace_ = std::make_unique<TraceWriter>(trace_file_);
    // Said once, as for the log; the port goes on being served.
    trace_->SetWriteFailureHandler([this](std::string_view reason) {
      if (trace_failed_) return;
      trace_failed_ = true;
      Event("cannot write the trace " + files_.trace + ": " + std::string(reason) +
            "; the trace is incomplete from here on");
    });
    tee_ = std::make_unique<TeeView>(*this, *trace_);
  }
}

StationPort::~StationPort() {
  session_.reset();
  retired_.clear();
}

bool StationPort::Serve(EventLoop& loop, const PortSession::Options& options) {
  retired_.clear();
  loop_ = &loop;
  PortSessionListener listener;
  listener.note = [this](std::string_view text) { Event(text); };
  listener.event = [this](const BoxEvent& event) { OnBoxEvent(event); };
  View& view = tee_ ? static_cast<View&>(*tee_) : *this;
  check_only_ = options.check_only;
  PortSession::Options port_options = options;
  // A box upgraded while this port's log or trace is not whole is recorded
  // with the station's status for it, 11.
  port_options.recorded_status = [this](int status) {
    return status == kExitOk && !IncompleteFiles().empty() ? kExitRecordIncomplete : status;
  };
  session_ = std::make_unique<PortSession>(loop, view, port_options, std::move(listener));
  switch (session_->Begin()) {
    case PortSession::Start::kRunning:
      Event("serving");
      return true;
    case PortSession::Start::kImageNotAccepted:
      Event("the image was not accepted");
      break;
    case PortSession::Start::kPortNotOpened:
      for (const auto& line : session_->OpenFailure()) Event("cannot be opened: " + line);
      break;
  }
  RetireSession();
  row_.phase = "not opened";
  return false;
}

void StationPort::RetireSession() {
  if (!session_) return;
  session_->Close();
  retired_.push_back(std::move(session_));
}

void StationPort::Release(std::optional<int> status, std::string_view phase) {
  if (session_) {
    if (status) {
      session_->Abort(*status);
    } else {
      session_->Close();
    }
    RetireSession();
  }
  row_.phase = phase;
  row_.percent = -1;
  row_.rate = 0;
}

void StationPort::TakeNoMoreBoxes() {
  if (session_) session_->TakeNoMoreBoxes();
}

void StationPort::Event(std::string_view text) {
  if (listener_.event) listener_.event(*this, text);
}

void StationPort::OnBoxEvent(const BoxEvent& event) {
  if (const auto* announced = std::get_if<BoxAnnounced>(&event)) {
    // Who the last box was stays on the row until the next one announces itself.
    ClearProgress();
    row_.loader = announced->loader;
    row_.model.clear();
    box_started_ = Clock::now();
    box_ended_at_.reset();
  } else if (const auto* identified = std::get_if<BoxIdentified>(&event)) {
    row_.model = identified->model;
    Event("box identified: " + identified->loader + ", model " + identified->model);
  } else if (std::holds_alternative<BoxAccepted>(event)) {
    if (listener_.accepted) listener_.accepted(*this);
  } else if (const auto* progress = std::get_if<BoxDownloading>(&event)) {
    OnDownloading(*progress);
  } else if (const auto* ended = std::get_if<BoxEnded>(&event)) {
    if (ended->counted) OnBoxEnded(*ended);
    // The next box is awaited from here.
    ClearProgress();
  } else if (const auto* over = std::get_if<SessionOver>(&event)) {
    if (listener_.ended) listener_.ended(*this, over->status);
  }
}

void StationPort::ClearProgress() {
  row_.block = 0;
  row_.blocks = 0;
  row_.percent = -1;
  row_.rate = 0;
  download_started_.reset();
}

void StationPort::OnDownloading(const BoxDownloading& progress) {
  row_.block = progress.block;
  row_.blocks = progress.blocks;
  auto now = Clock::now();
  if (!download_started_) {
    download_started_ = now;
    download_start_bytes_ = progress.bytes;
    return;
  }
  double seconds = std::chrono::duration<double>(now - *download_started_).count();
  // The first moments say nothing about the line's speed.
  constexpr double kSettleSeconds = 0.25;
  if (seconds >= kSettleSeconds) {
    row_.rate = static_cast<double>(progress.bytes - download_start_bytes_) / seconds;
  }
}

void StationPort::OnBoxEnded(const BoxEnded& box) {
  box_ended_at_ = Clock::now();
  boxes_.push_back(box);
  std::string verdict = DescribeBoxStatus(box.status);
  if (check_only_ && box.status == kExitOk) verdict = "would take the image (check only)";
  if (box.status == kExitOk) {
    ++row_.upgraded;
  } else {
    ++row_.failed;
    // The first warning behind a refusal says why.
    if (box.verdict == Verdict::kRefused && !box.warnings.empty()) {
      verdict += ": " + ReasonText(box.warnings.front().reason);
    }
  }
  row_.verdict = verdict;
  verdicts_.push_back(verdict);
  Event("box " + std::to_string(boxes_.size()) + ": " + verdict + " (" + Seconds(box.seconds) +
        ")");
  if (listener_.box_ended) listener_.box_ended(*this, box);
}

std::vector<std::string> StationPort::IncompleteFiles() const {
  std::vector<std::string> files;
  if (log_failed_) files.push_back(files_.log);
  if (trace_failed_ || (trace_ && trace_->WriteFailed())) files.push_back(files_.trace);
  return files;
}

StationRow StationPort::Row(Clock::time_point now) const {
  StationRow row = row_;
  if (box_started_) {
    auto end = box_ended_at_ && *box_ended_at_ >= *box_started_ ? *box_ended_at_ : now;
    row.elapsed = std::chrono::duration<double>(end - *box_started_).count();
  }
  return row;
}

void StationPort::AddMemoLine(std::string_view line) {
  if (!log_.is_open() || log_failed_) return;
  errno = 0;
  log_.write(line.data(), static_cast<std::streamsize>(line.size()));
  log_ << '\n';
  log_.flush();
  if (!log_) {
    // A full disk: said once, the boxes go on, the summary names the file.
    log_failed_ = true;
    const int error = errno;
    Event("cannot write the log " + files_.log + ": " +
          (error != 0 ? std::strerror(error) : "write failed") +
          "; the log is incomplete from here on");
  }
}

void StationPort::SetLogo(std::optional<std::string_view> caption, std::optional<Colour>,
                          std::optional<Colour>) {
  if (!caption) return;
  row_.phase = *caption == kIdleLogo ? std::string(kWaiting) : std::string(*caption);
}

void StationPort::SetProgress(ProgressBar, int percent) {
  if (percent <= 0) return;
  row_.percent = percent;
}

std::string StationPort::EditText(Edit edit) const {
  auto found = edits_.find(edit);
  return found == edits_.end() ? std::string() : found->second;
}

void StationPort::ShowMessage(std::string_view text) { Event(text); }
void StationPort::ReportError(std::string_view text) { Event(text); }

}  // namespace stbup
