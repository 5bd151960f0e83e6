#include "cli/console_view.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace stbup {
namespace {

constexpr int kBarWidth = 24;

std::string Duration(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return "--:--";
  long total = std::lround(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

std::string Rate(double bytes_per_second) {
  char text[32];
  if (bytes_per_second >= 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f MiB/s", bytes_per_second / (1024 * 1024));
  } else {
    std::snprintf(text, sizeof text, "%.1f KiB/s", bytes_per_second / 1024);
  }
  return text;
}

}  // namespace

ConsoleView::ConsoleView(Options options) : options_(options), closed_(*options.err) {}

std::string ConsoleView::EscapeForTerminal(std::string_view bytes) {
  std::string shown;
  shown.reserve(bytes.size());
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      shown += escape;
    } else {
      shown += c;
    }
  }
  return shown;
}

bool ConsoleView::ParseFileSize(std::string_view text, long long& done, long long& total) {
  auto open = text.find('(');
  auto slash = text.find('/');
  auto close = text.find(')');
  if (open == std::string_view::npos || slash == std::string_view::npos ||
      close == std::string_view::npos || !(open < slash && slash < close)) {
    return false;
  }
  auto number = [](std::string_view part, long long& value) {
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
    auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    return error == std::errc() && end == part.data() + part.size() && !part.empty();
  };
  return number(text.substr(open + 1, slash - open - 1), done) &&
         number(text.substr(slash + 1, close - slash - 1), total);
}

void ConsoleView::ClearBarLine() {
  if (drawn_ != nullptr) *options_.err << "\r\033[K";
}

void ConsoleView::AddMemoLine(std::string_view line) {
  if (options_.log != nullptr && !log_failed_) {
    errno = 0;
    options_.log->write(line.data(), static_cast<std::streamsize>(line.size()));
    *options_.log << '\n';
    options_.log->flush();
    if (!*options_.log) {
      // Said once; the upgrade goes on, and the end of the run says it again.
      log_failed_ = true;
      const int error = errno;
      Note("cannot write the log " + options_.log_name + ": " +
           (error != 0 ? std::strerror(error) : "write failed") +
           "; the log is incomplete from here on");
    }
  }
  if (options_.quiet) return;
  ClearBarLine();
  std::string shown = options_.raw ? std::string(line) : EscapeForTerminal(line);
  errno = 0;
  options_.out->write(shown.data(), static_cast<std::streamsize>(shown.size()));
  *options_.out << '\n';
  options_.out->flush();
  closed_.Check(*options_.out, "standard output");
  if (drawn_ != nullptr) DrawBar();
}

void ConsoleView::Note(std::string_view text) {
  ClearBarLine();
  // Notes may quote the box or a file name: escaped wherever stderr goes.
  std::string shown = EscapeForTerminal(text);
  errno = 0;
  *options_.err << "stbup: " << shown << '\n';
  options_.err->flush();
  closed_.Check(*options_.err, "standard error");
  if (drawn_ != nullptr) DrawBar();
}

void ConsoleView::ShowMessage(std::string_view text) { Note(text); }
void ConsoleView::ReportError(std::string_view text) { Note(text); }

void ConsoleView::Beep() {
  if (options_.err_is_terminal && !options_.quiet) {
    *options_.err << '\a';
    options_.err->flush();
  }
}

void ConsoleView::SetLogo(std::optional<std::string_view> caption, std::optional<Colour>,
                          std::optional<Colour>) {
  if (caption) logo_ = *caption;
}

std::string ConsoleView::EditText(Edit edit) const {
  auto found = edits_.find(edit);
  return found == edits_.end() ? std::string() : found->second;
}

void ConsoleView::SetFileSize(std::string_view text) {
  long long done = 0;
  long long total = 0;
  if (ParseFileSize(text, done, total)) {
    bytes_done_ = done;
    bytes_total_ = total;
  }
}

void ConsoleView::SetProgress(ProgressBar which, int percent) {
  Bar& bar = BarOf(which);
  if (percent == bar.percent) return;
  if (percent <= 0) {
    // A reset: the bar starts over with the next exchange.
    bool was_drawn = drawn_ == &bar;
    if (was_drawn) FinishProgress();
    bar.percent = percent;
    bar.reported_decile = 0;
    bar.started.reset();
    return;
  }
  if (!bar.started) {
    bar.started = Clock::now();
    bar.start_bytes = bytes_done_;
  }
  bar.percent = percent;
  if (options_.quiet) return;
  if (!options_.err_is_terminal) {
    int decile = percent / 10;
    if (decile > bar.reported_decile) {
      bar.reported_decile = decile;
      char line[48];
      std::snprintf(line, sizeof line, "%s %3d%%\n", bar.name, decile * 10);
      *options_.err << line;
      options_.err->flush();
    }
    return;
  }
  if (drawn_ != nullptr && drawn_ != &bar) FinishProgress();
  drawn_ = &bar;
  DrawBar();
  if (percent >= 100) FinishProgress();
}

void ConsoleView::DrawBar() {
  Bar& bar = *drawn_;
  int percent = bar.percent < 0 ? 0 : (bar.percent > 100 ? 100 : bar.percent);
  int filled = percent * kBarWidth / 100;
  std::string cells(static_cast<std::size_t>(filled), '#');
  cells.append(static_cast<std::size_t>(kBarWidth - filled), '-');
  double elapsed =
      bar.started ? std::chrono::duration<double>(Clock::now() - *bar.started).count() : 0.0;
  // A rate from the first few milliseconds says nothing; the flash bar's bytes
  // follow from its share of the region the download reported.
  std::string rate = "--";
  constexpr double kSettleSeconds = 0.25;
  if (elapsed >= kSettleSeconds) {
    const long long done =
        &bar == &download_ ? bytes_done_ - bar.start_bytes : bytes_total_ * percent / 100;
    if (done > 0) rate = Rate(static_cast<double>(done) / elapsed);
  }
  double left = percent > 0 ? elapsed * (100 - percent) / percent : -1;
  char line[160];
  std::snprintf(line, sizeof line, "\r\033[K%-11s [%s] %3d%%  %s  %s left", bar.name, cells.c_str(),
                percent, rate.c_str(), Duration(left).c_str());
  *options_.err << line;
  options_.err->flush();
}

void ConsoleView::FinishProgress() {
  if (drawn_ == nullptr) return;
  *options_.err << '\n';
  options_.err->flush();
  drawn_ = nullptr;
}

}  // namespace stbup
