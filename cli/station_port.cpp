#include "cli/station_port.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/console_view.h"
#include "cli/exit_status.h"
#include "seams/errors.h"

namespace stbup {
namespace {

constexpr std::string_view kDetected = " detected..";
constexpr std::string_view kTargetLine = "// Target: ";
// The banner's caption while no box has spoken.
constexpr std::string_view kIdleLogo = "Simple and Speedy";
constexpr std::string_view kWaiting = "waiting for a box";

// A warning line that says something: not one of the rules and banners
// (">> =====", ">> !!!! W A R N I N G !!!!") around it.
bool IsReason(std::string_view line) {
  if (!line.starts_with(">") || line.find("W A R N I N G") != std::string_view::npos) {
    return false;
  }
  return std::any_of(line.begin(), line.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
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
  listener.accepted = [this] {
    if (listener_.accepted) listener_.accepted(*this);
  };
  listener.box_ended = [this](const BoxOutcome& box) { OnBoxEnded(box); };
  listener.ended = [this](int status) {
    if (listener_.ended) listener_.ended(*this, status);
  };
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

void StationPort::OnBoxEnded(const BoxOutcome& box) {
  box_ended_at_ = Clock::now();
  boxes_.push_back(box);
  std::string verdict = DescribeBoxStatus(box.status);
  if (check_only_ && box.status == kExitOk) verdict = "would take the image (check only)";
  if (box.status == kExitOk) {
    ++row_.upgraded;
  } else {
    ++row_.failed;
    // The first warning behind a refusal says why.
    if (box.status == kExitRefused && !reasons_.empty()) {
      std::string_view reason = reasons_.front();
      while (!reason.empty() && (reason.front() == '>' || reason.front() == ' ')) {
        reason.remove_prefix(1);
      }
      while (!reason.empty() && reason.back() == ' ') reason.remove_suffix(1);
      verdict += ": " + std::string(reason);
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
  if (log_.is_open() && !log_failed_) {
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
  if (line == kUpgradeModeLine) {
    // The window starts over: a new box is waited for. Who the last box was
    // stays on the row until the next one announces itself.
    reasons_.clear();
    row_.block = 0;
    row_.blocks = 0;
    row_.percent = -1;
    row_.rate = 0;
    bar_ = 0;
    download_started_.reset();
    return;
  }
  if (IsReason(line) && reasons_.size() < 16) reasons_.emplace_back(line);
  if (line.size() > kDetected.size() && line.ends_with(kDetected)) {
    row_.loader = line.substr(0, line.size() - kDetected.size());
    row_.model.clear();
    // What the image's loading said is no reason for this box's verdict.
    reasons_.clear();
    box_started_ = Clock::now();
    box_ended_at_.reset();
  } else if (line.starts_with(kTargetLine) && session_) {
    row_.model = session_->Window().GetEngine().State().TargetInfo.ModelName;
    Event("box identified: " + (row_.loader.empty() ? std::string("loader") : row_.loader) +
          ", model " + row_.model);
  }
}

void StationPort::SetLabel3(std::string_view caption, Colour) {
  label3_ = caption;
  // "L 217, u-C[0], ..." : the loader's version is the first part.
  auto comma = caption.find(',');
  std::string version(caption.substr(0, comma));
  if (!row_.loader.empty() && !version.empty() && row_.loader.find(' ') == std::string::npos) {
    row_.loader += " " + version;
  }
}

void StationPort::SetLogo(std::optional<std::string_view> caption, std::optional<Colour>,
                          std::optional<Colour>) {
  if (!caption) return;
  row_.phase = *caption == kIdleLogo ? std::string(kWaiting) : std::string(*caption);
}

void StationPort::SetProgress(ProgressBar bar, int percent) {
  if (percent <= 0) return;
  bar_ = bar == ProgressBar::kPb1 ? 1 : 2;
  row_.percent = percent;
}

void StationPort::SetFileSize(std::string_view text) {
  long long done = 0;
  long long total = 0;
  if (!ConsoleView::ParseFileSize(text, done, total)) return;
  constexpr long long kBlock = 1024;
  row_.block = (done + kBlock - 1) / kBlock;
  row_.blocks = (total + kBlock - 1) / kBlock;
  auto now = Clock::now();
  if (!download_started_) {
    download_started_ = now;
    download_start_bytes_ = done;
    return;
  }
  double seconds = std::chrono::duration<double>(now - *download_started_).count();
  // The first moments say nothing about the line's speed.
  constexpr double kSettleSeconds = 0.25;
  if (seconds >= kSettleSeconds) {
    row_.rate = static_cast<double>(done - download_start_bytes_) / seconds;
  }
}

std::string StationPort::EditText(Edit edit) const {
  auto found = edits_.find(edit);
  return found == edits_.end() ? std::string() : found->second;
}

void StationPort::ShowMessage(std::string_view text) { Event(text); }
void StationPort::ReportError(std::string_view text) { Event(text); }

}  // namespace stbup
