#include "cli/record_export.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

namespace stbup {

namespace {

using Field = std::pair<const char*, nlohmann::ordered_json>;

nlohmann::ordered_json Optional(const std::optional<std::string>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

template <typename Number>
nlohmann::ordered_json Optional(const std::optional<Number>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

// Every field, in the database's column order.
std::vector<Field> Fields(const BoxRecord& r) {
  return {
      {"record_id", r.record_id},
      {"started_at", r.started_at},
      {"ended_at", r.ended_at},
      {"station", r.station},
      {"front_end", r.front_end},
      {"port", r.port},
      {"loader_kind", Optional(r.loader_kind)},
      {"loader_version", Optional(r.loader_version)},
      {"flash_size", Optional(r.flash_size)},
      {"flash_chip", Optional(r.flash_chip)},
      {"box_model", Optional(r.box_model)},
      {"box_hw", Optional(r.box_hw)},
      {"box_sw", Optional(r.box_sw)},
      {"image_path", r.image_path},
      {"image_size", Optional(r.image_size)},
      {"image_sha256", Optional(r.image_sha256)},
      {"image_model", r.image_model},
      {"image_hw", r.image_hw},
      {"image_sw", r.image_sw},
      {"image_type", r.image_type},
      {"blocks_sent", r.blocks_sent},
      {"blocks_retried", r.blocks_retried},
      {"seconds", r.seconds},
      {"verdict", std::string(VerdictName(r.verdict))},
      {"exit_status", r.exit_status},
      {"log_tail", r.log_tail},
      {"operator_name", Optional(r.operator_name)},
      {"work_order", Optional(r.work_order)},
  };
}

// Control characters (C0, DEL and C1, which a record holds as U+0080 to
// U+009F) as \xNN, so a box's text cannot drive the terminal.
std::string ForTerminal(std::string_view text) {
  std::string shown;
  const auto escape = [&shown](unsigned value) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", value);
    shown += escaped;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
    if (byte < 0x20 || byte == 0x7F) {
      escape(byte);
    } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
      escape(next);
      ++i;
    } else {
      shown += text[i];
    }
  }
  return shown;
}

// Columns count characters, not bytes, so UTF-8 names line up.
std::size_t Width(std::string_view text) {
  std::size_t width = 0;
  for (const char c : text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return width;
}

// A spreadsheet takes a cell beginning with one of these for a formula (or,
// for a tab or CR, strips them and looks again).
constexpr std::string_view kFormulaStarts = "=+-@\t\r";

std::string CsvField(const nlohmann::ordered_json& value) {
  if (value.is_null()) return {};
  std::string text;
  if (value.is_string()) {
    text = value.get<std::string>();
  } else if (value.is_number_float()) {
    char figure[32];
    std::snprintf(figure, sizeof figure, "%.3f", value.get<double>());
    text = figure;
  } else {
    text = value.dump();
  }
  if (!text.empty() && kFormulaStarts.find(text.front()) != std::string_view::npos) {
    text.insert(0, 1, '\'');
  }
  // Escaped before quoting: line ends too, so each record is one line.
  text = ForTerminal(text);
  if (text.find_first_of(",\"") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

}  // namespace

void WriteRecordJsonLine(const BoxRecord& record, std::ostream& out) {
  nlohmann::ordered_json line = nlohmann::ordered_json::object();
  for (auto& [name, value] : Fields(record)) line[name] = std::move(value);
  out << line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

void WriteRecordsJsonLines(const std::vector<BoxRecord>& records, std::ostream& out) {
  for (const BoxRecord& record : records) WriteRecordJsonLine(record, out);
}

void WriteRecordsCsvHeader(std::ostream& out) {
  const BoxRecord blank;
  bool first = true;
  for (const Field& field : Fields(blank)) {
    out << (first ? "" : ",") << field.first;
    first = false;
  }
  out << '\n';
}

void WriteRecordCsvLine(const BoxRecord& record, std::ostream& out) {
  bool first = true;
  for (const Field& field : Fields(record)) {
    out << (first ? "" : ",") << CsvField(field.second);
    first = false;
  }
  out << '\n';
}

void WriteRecordsCsv(const std::vector<BoxRecord>& records, std::ostream& out) {
  WriteRecordsCsvHeader(out);
  for (const BoxRecord& record : records) WriteRecordCsvLine(record, out);
}

void WriteRecordsTable(const std::vector<BoxRecord>& records, std::ostream& out) {
  RecordsTable table;
  for (const BoxRecord& record : records) table.Measure(record);
  table.WriteHeader(out);
  for (const BoxRecord& record : records) table.WriteRow(record, out);
  table.WriteCount(out);
}

namespace {

const std::vector<std::string>& TableHeader() {
  // The last two only where some record says who ran the box and for which order.
  static const std::vector<std::string> header{
      "STARTED (UTC)", "STATION", "PORT",    "BOX",     "H/W",     "S/W",      "IMAGE",
      "TYPE",          "BLOCKS",  "RETRIES", "SECONDS", "VERDICT", "OPERATOR", "ORDER"};
  return header;
}

std::vector<std::string> TableCells(const BoxRecord& r) {
  // "2026-12-08T12:34:56.789Z" reads as "2026-12-08 12:34:56".
  std::string started = r.started_at.substr(0, 19);
  if (started.size() > 10) started[10] = ' ';
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
  return {started,
          ForTerminal(r.station),
          ForTerminal(r.port),
          ForTerminal(r.box_model.value_or("-")),
          ForTerminal(r.box_hw.value_or("-")),
          ForTerminal(r.box_sw.value_or("-")),
          ForTerminal(r.image_model + " " + r.image_sw),
          ForTerminal(r.image_type),
          std::to_string(r.blocks_sent),
          std::to_string(r.blocks_retried),
          seconds,
          std::string(VerdictName(r.verdict)),
          ForTerminal(r.operator_name.value_or("-")),
          ForTerminal(r.work_order.value_or("-"))};
}

constexpr std::size_t kOperatorColumn = 12;
constexpr std::size_t kOrderColumn = 13;

}  // namespace

RecordsTable::RecordsTable() {
  for (const std::string& title : TableHeader()) widths_.push_back(Width(title));
}

void RecordsTable::Measure(const BoxRecord& record) {
  operators_ = operators_ || record.operator_name.has_value();
  orders_ = orders_ || record.work_order.has_value();
  const std::vector<std::string> cells = TableCells(record);
  for (std::size_t k = 0; k < cells.size(); ++k) {
    widths_[k] = std::max(widths_[k], Width(cells[k]));
  }
}

void RecordsTable::WriteHeader(std::ostream& out) const { WriteCells(TableHeader(), out); }

void RecordsTable::WriteRow(const BoxRecord& record, std::ostream& out) {
  std::vector<std::string> cells = TableCells(record);
  // A record that came after the first pass is shown whole, if out of line.
  for (std::size_t k = 0; k < cells.size(); ++k) {
    widths_[k] = std::max(widths_[k], Width(cells[k]));
  }
  WriteCells(cells, out);
  ++rows_;
}

void RecordsTable::WriteCount(std::ostream& out) const {
  out << rows_ << (rows_ == 1 ? " box\n" : " boxes\n");
}

void RecordsTable::WriteCells(const std::vector<std::string>& cells, std::ostream& out) const {
  std::size_t last = cells.size() - 1;
  if (!orders_) last = kOrderColumn - 1;
  if (!orders_ && !operators_) last = kOperatorColumn - 1;
  std::string line;
  for (std::size_t k = 0; k <= last; ++k) {
    if (k == kOperatorColumn && !operators_) continue;
    line += cells[k];
    if (k < last) line.append(widths_[k] - Width(cells[k]) + 2, ' ');
  }
  line += '\n';
  out.write(line.data(), static_cast<std::streamsize>(line.size()));
}

}  // namespace stbup
