#include "app/trace/trace_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace stbup {
namespace {

std::string Bool(bool value) { return value ? "true" : "false"; }

}  // namespace

TraceWriter::TraceWriter(std::ostream& out, Clock clock) : out_(out), clock_(std::move(clock)) {
  if (!clock_) {
    auto start = std::chrono::steady_clock::now();
    clock_ = [start] {
      return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
          .count();
    };
  }
  for (Edit edit :
       {Edit::kFileName, Edit::kModelName, Edit::kHV, Edit::kSV, Edit::kType, Edit::kStartBlock}) {
    edits_[edit] = "";
  }
}

std::string TraceWriter::Quote(std::string_view bytes) {
  std::string quoted;
  quoted.reserve(bytes.size() + 2);
  quoted += '"';
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    switch (byte) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\b':
        quoted += "\\b";
        break;
      case '\f':
        quoted += "\\f";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        if (byte < 0x20 || byte >= 0x80) {
          // Control bytes and the upper half as code points of their own
          // value, so every byte survives the round trip.
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", byte);
          quoted += escape;
        } else {
          quoted += c;
        }
    }
  }
  quoted += '"';
  return quoted;
}

void TraceWriter::Record(std::string_view body) {
  char time[32];
  std::snprintf(time, sizeof time, "%.1f", clock_());
  if (write_failed_) return;
  errno = 0;
  out_ << "{\"t\":" << time << ',' << body << "}\n";
  out_.flush();
  if (!out_) {
    write_failed_ = true;
    const int error = errno;
    if (on_write_failure_) {
      on_write_failure_(error != 0 ? std::strerror(error) : "write failed");
    }
  }
}

void TraceWriter::RunEnded(int status, std::string_view meaning) {
  Record("\"exit\":{\"status\":" + std::to_string(status) + ",\"meaning\":" + Quote(meaning) + "}");
}

void TraceWriter::AddMemoLine(std::string_view line) { Record("\"memo\":" + Quote(line)); }

void TraceWriter::ClearMemo() { Record("\"memo_clear\":true"); }

void TraceWriter::SetMemoColour(Colour colour) { Record("\"memo_color\":" + Quote(colour.Hex())); }

void TraceWriter::SetLabel3(std::string_view caption, Colour colour) {
  label3_ = std::string(caption);
  Record("\"label3\":" + Quote(caption) + ",\"color\":" + Quote(colour.Hex()));
}

void TraceWriter::SetLogo(std::optional<std::string_view> caption, std::optional<Colour> text,
                          std::optional<Colour> background) {
  if (caption) logo_ = std::string(*caption);
  if (text) logo_text_ = *text;
  if (background) logo_background_ = *background;
  Record("\"logo\":" + Quote(logo_) + ",\"fg\":" + Quote(logo_text_.Hex()) +
         ",\"bg\":" + Quote(logo_background_.Hex()));
}

void TraceWriter::SetProgress(ProgressBar bar, int percent) {
  Record(std::string(bar == ProgressBar::kPb1 ? "\"pb1\":" : "\"pb2\":") + std::to_string(percent));
}

void TraceWriter::SetFileSize(std::string_view text) { Record("\"filesize\":" + Quote(text)); }

void TraceWriter::ShowConnect(bool visible, std::string_view caption) {
  Record("\"connect\":{\"visible\":" + Bool(visible) + ",\"caption\":" + Quote(caption) + "}");
}

void TraceWriter::EnableSetupControls(bool enabled) {
  Record("\"setup_enabled\":" + Bool(enabled));
}

void TraceWriter::SetEdit(Edit edit, std::string_view text) {
  edits_[edit] = std::string(text);
  Record("\"image\":{\"file\":" + Quote(edits_[Edit::kFileName]) +
         ",\"model\":" + Quote(edits_[Edit::kModelName]) + ",\"hw\":" + Quote(edits_[Edit::kHV]) +
         ",\"sw\":" + Quote(edits_[Edit::kSV]) + ",\"type\":" + Quote(edits_[Edit::kType]) +
         ",\"start_block\":" + Quote(edits_[Edit::kStartBlock]) + "}");
}

std::string TraceWriter::EditText(Edit edit) const {
  auto found = edits_.find(edit);
  return found == edits_.end() ? std::string() : found->second;
}

void TraceWriter::ShowMessage(std::string_view text) { Record("\"message\":" + Quote(text)); }

void TraceWriter::ReportError(std::string_view text) { Record("\"error\":" + Quote(text)); }

void TraceWriter::Beep() { Record("\"beep\":true"); }

void TraceWriter::Timer1Changed(int interval) { Record("\"timer1\":" + std::to_string(interval)); }

void TraceWriter::PortChanged(bool open, std::string_view device) {
  Record(std::string("\"port\":") + (open ? "\"open\"" : "\"closed\"") +
         ",\"device\":" + Quote(device));
}

void TeeView::AddMemoLine(std::string_view line) {
  primary_.AddMemoLine(line);
  trace_.AddMemoLine(line);
}
void TeeView::ClearMemo() {
  primary_.ClearMemo();
  trace_.ClearMemo();
}
void TeeView::SetMemoColour(Colour colour) {
  primary_.SetMemoColour(colour);
  trace_.SetMemoColour(colour);
}
void TeeView::SetLabel3(std::string_view caption, Colour colour) {
  primary_.SetLabel3(caption, colour);
  trace_.SetLabel3(caption, colour);
}
void TeeView::SetLogo(std::optional<std::string_view> caption, std::optional<Colour> text,
                      std::optional<Colour> background) {
  primary_.SetLogo(caption, text, background);
  trace_.SetLogo(caption, text, background);
}
void TeeView::SetProgress(ProgressBar bar, int percent) {
  primary_.SetProgress(bar, percent);
  trace_.SetProgress(bar, percent);
}
void TeeView::SetFileSize(std::string_view text) {
  primary_.SetFileSize(text);
  trace_.SetFileSize(text);
}
void TeeView::ShowConnect(bool visible, std::string_view caption) {
  primary_.ShowConnect(visible, caption);
  trace_.ShowConnect(visible, caption);
}
void TeeView::EnableSetupControls(bool enabled) {
  primary_.EnableSetupControls(enabled);
  trace_.EnableSetupControls(enabled);
}
void TeeView::SetEdit(Edit edit, std::string_view text) {
  primary_.SetEdit(edit, text);
  trace_.SetEdit(edit, text);
}
void TeeView::ShowMessage(std::string_view text) {
  // The trace records the box when it opens, not when the operator closes it.
  trace_.ShowMessage(text);
  primary_.ShowMessage(text);
}
void TeeView::ReportError(std::string_view text) {
  trace_.ReportError(text);
  primary_.ReportError(text);
}
void TeeView::Beep() {
  primary_.Beep();
  trace_.Beep();
}
void TeeView::Timer1Changed(int interval) {
  primary_.Timer1Changed(interval);
  trace_.Timer1Changed(interval);
}
void TeeView::PortChanged(bool open, std::string_view device) {
  primary_.PortChanged(open, device);
  trace_.PortChanged(open, device);
}

}  // namespace stbup
