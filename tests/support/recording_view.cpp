#include "tests/support/recording_view.h"

#include <utility>

namespace stbup {

void RecordingView::AddMemoLine(std::string_view line) {
  memo.emplace_back(line);
  Record("memo:" + std::string(line));
}

void RecordingView::ClearMemo() {
  memo.clear();
  ++memo_clears;
  Record("memo_clear");
}

void RecordingView::SetMemoColour(Colour colour) {
  memo_colour = colour;
  Record("memo_colour:" + colour.Hex());
}

std::string RecordingView::Label3Caption() const { return label3; }

void RecordingView::SetLabel3(std::string_view caption, Colour colour) {
  label3 = caption;
  label3_colour = colour;
  Record("label3:" + label3 + "|" + colour.Hex());
}

void RecordingView::SetLogo(std::optional<std::string_view> caption, std::optional<Colour> text,
                            std::optional<Colour> background) {
  if (caption) logo = *caption;
  if (text) logo_text = *text;
  if (background) logo_background = *background;
  Record("logo:" + (caption ? std::string(*caption) : std::string()) + "|" +
         (text ? text->Hex() : std::string()) + "|" +
         (background ? background->Hex() : std::string()));
}

void RecordingView::SetProgress(ProgressBar bar, int percent) {
  (bar == ProgressBar::kPb1 ? pb1 : pb2) = percent;
  Record((bar == ProgressBar::kPb1 ? "pb1:" : "pb2:") + std::to_string(percent));
}

void RecordingView::SetFileSize(std::string_view text) {
  file_size = text;
  Record("filesize:" + file_size);
}

void RecordingView::ShowConnect(bool visible, std::string_view caption) {
  connect_visible = visible;
  connect_caption = caption;
  Record(std::string("connect:") + (visible ? "1|" : "0|") + connect_caption);
}

void RecordingView::EnableSetupControls(bool enabled) {
  setup_enabled = enabled;
  Record(enabled ? "setup:1" : "setup:0");
}

void RecordingView::SetEdit(Edit edit, std::string_view text) {
  edits[edit] = text;
  Record("edit:" + std::string(EditName(edit)) + ":" + std::string(text));
}

std::string RecordingView::EditText(Edit edit) const {
  const auto found = edits.find(edit);
  return found == edits.end() ? std::string() : found->second;
}

void RecordingView::ShowMessage(std::string_view text) {
  messages.emplace_back(text);
  Record("message:" + std::string(text));
}

void RecordingView::ReportError(std::string_view text) {
  errors.emplace_back(text);
  Record("error:" + std::string(text));
}

void RecordingView::Beep() {
  ++beeps;
  Record("beep");
}

void RecordingView::Timer1Changed(int interval) {
  timer1 = interval;
  Record("timer1:" + std::to_string(interval));
}

void RecordingView::PortChanged(bool open, std::string_view device) {
  port_open = open;
  Record(std::string("port:") + (open ? "open|" : "closed|") + std::string(device));
}

std::vector<std::string> RecordingView::EventsOf(std::string_view kind) const {
  const std::string prefix = std::string(kind) + ":";
  std::vector<std::string> found;
  for (const std::string& event : events) {
    if (event == kind) {
      found.emplace_back();
    } else if (event.starts_with(prefix)) {
      found.push_back(event.substr(prefix.size()));
    }
  }
  return found;
}

void RecordingView::ClearEvents() { events.clear(); }

void RecordingView::Record(std::string event) {
  events.push_back(std::move(event));
  if (on_event) on_event(events.back());
}

std::string_view RecordingView::EditName(Edit edit) {
  switch (edit) {
    case Edit::kFileName:
      return "FileName";
    case Edit::kModelName:
      return "ModelName";
    case Edit::kHV:
      return "HV";
    case Edit::kSV:
      return "SV";
    case Edit::kType:
      return "Type";
    case Edit::kStartBlock:
      return "StartBlock";
  }
  return "?";
}

}  // namespace stbup
