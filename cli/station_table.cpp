#include "cli/station_table.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "cli/console_view.h"

namespace stbup {
namespace {

// A box names its own model and loader: what it sent is shown escaped.
std::string Cell(std::string_view text, std::size_t width) {
  std::string shown = ConsoleView::EscapeForTerminal(text);
  if (shown.size() > width) {
    // The end of a long device path is the part that tells ports apart.
    shown = width > 2 ? ".." + shown.substr(shown.size() - (width - 2)) : shown.substr(0, width);
  }
  shown.resize(width, ' ');
  return shown;
}

std::string RightCell(std::string_view text, std::size_t width) {
  std::string shown(text.substr(0, width));
  return std::string(width - shown.size(), ' ') + shown;
}

std::string Cut(std::string line, std::size_t width) {
  while (!line.empty() && line.back() == ' ') line.pop_back();
  if (line.size() > width) line.resize(width);
  return line;
}

}  // namespace

std::string StationRate(double bytes_per_second) {
  if (bytes_per_second <= 0) return "--";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f KiB/s", bytes_per_second / 1024);
  return text;
}

std::string StationElapsed(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
  long total = std::lround(std::floor(seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

std::vector<std::string> StationTable(const std::vector<StationRow>& rows, std::size_t width) {
  std::size_t port_width = 4;
  for (const auto& row : rows) port_width = std::max(port_width, row.port.size());
  port_width = std::min<std::size_t>(port_width, 28);
  auto line = [&](std::string_view port, std::string_view loader, std::string_view model,
                  std::string_view phase, std::string_view block, std::string_view percent,
                  std::string_view rate, std::string_view elapsed, std::string_view ok,
                  std::string_view failed, std::string_view verdict) {
    std::string text = Cell(port, port_width) + "  " + Cell(loader, 10) + "  " + Cell(model, 10) +
                       "  " + Cell(phase, 18) + "  " + RightCell(block, 11) + "  " +
                       RightCell(percent, 4) + "  " + RightCell(rate, 12) + "  " +
                       RightCell(elapsed, 7) + "  " + RightCell(ok, 4) + "  " +
                       RightCell(failed, 4) + "  " + ConsoleView::EscapeForTerminal(verdict);
    return Cut(std::move(text), width);
  };
  std::vector<std::string> lines;
  lines.push_back(line("PORT", "LOADER", "MODEL", "PHASE", "BLOCK", "%", "RATE", "ELAPSED", "OK",
                       "FAIL", "LAST VERDICT"));
  for (const auto& row : rows) {
    std::string block =
        row.blocks > 0 ? std::to_string(row.block) + "/" + std::to_string(row.blocks) : "";
    std::string percent = row.percent >= 0 ? std::to_string(row.percent) + "%" : "";
    std::string elapsed = row.elapsed > 0 ? StationElapsed(row.elapsed) : "";
    lines.push_back(line(row.port, row.loader, row.model, row.phase, block, percent,
                         StationRate(row.rate), elapsed, std::to_string(row.upgraded),
                         std::to_string(row.failed), row.verdict));
  }
  return lines;
}

std::vector<std::string> StationSummary(const std::vector<StationPortSummary>& ports,
                                        std::string_view success) {
  std::size_t port_width = 4;
  for (const auto& port : ports) port_width = std::max(port_width, port.port.size());
  std::string success_head(success);
  for (char& c : success_head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::vector<std::string> lines;
  auto row = [&](std::string_view port, std::string_view boxes, std::string_view succeeded,
                 std::string_view failed, std::string_view last) {
    std::string text = std::string(port) + std::string(port_width - port.size(), ' ') + "  " +
                       RightCell(boxes, 5) + "  " + RightCell(succeeded, 8) + "  " +
                       RightCell(failed, 6) + "  " + std::string(last);
    return Cut(std::move(text), std::string::npos);
  };
  lines.push_back(row("PORT", "BOXES", success_head, "FAILED", "LAST VERDICT"));
  int boxes = 0;
  int succeeded = 0;
  for (const auto& port : ports) {
    int port_succeeded = 0;
    for (const auto& box : port.boxes) port_succeeded += box.succeeded ? 1 : 0;
    const int port_boxes = static_cast<int>(port.boxes.size());
    boxes += port_boxes;
    succeeded += port_succeeded;
    lines.push_back(
        row(ConsoleView::EscapeForTerminal(port.port), std::to_string(port_boxes),
            std::to_string(port_succeeded), std::to_string(port_boxes - port_succeeded),
            port.boxes.empty() ? "-" : ConsoleView::EscapeForTerminal(port.boxes.back().verdict)));
  }
  for (const auto& port : ports) {
    for (std::size_t i = 0; i < port.boxes.size(); ++i) {
      if (port.boxes[i].succeeded) continue;
      lines.push_back(ConsoleView::EscapeForTerminal(port.port) + " box " + std::to_string(i + 1) +
                      ": " + ConsoleView::EscapeForTerminal(port.boxes[i].verdict));
    }
  }
  lines.push_back(std::to_string(boxes) + (boxes == 1 ? " box, " : " boxes, ") +
                  std::to_string(succeeded) + " " + std::string(success) + ", " +
                  std::to_string(boxes - succeeded) + " not");
  return lines;
}

}  // namespace stbup
