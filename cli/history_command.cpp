#include "cli/history_command.h"

#include <unistd.h>

#include <chrono>
#include <memory>

#include "app/core/box_recorder.h"
#include "cli/record_export.h"
#include "cli/records_options.h"
#include "records/records.h"

namespace stbup {

namespace {

bool ReadNumber(std::string_view text, std::size_t at, std::size_t digits, int& value) {
  if (at + digits > text.size()) return false;
  value = 0;
  for (std::size_t k = at; k < at + digits; ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
    value = value * 10 + (text[k] - '0');
  }
  return true;
}

}  // namespace

std::optional<DateSpan> ParseRecordDate(std::string_view text) {
  using namespace std::chrono;
  if (!text.empty() && (text.back() == 'Z' || text.back() == 'z')) text.remove_suffix(1);
  int year = 0, month = 0, day = 0;
  if (text.size() < 10 || !ReadNumber(text, 0, 4, year) || text[4] != '-' ||
      !ReadNumber(text, 5, 2, month) || text[7] != '-' || !ReadNumber(text, 8, 2, day)) {
    return std::nullopt;
  }
  const year_month_day date{std::chrono::year(year),
                            std::chrono::month(static_cast<unsigned>(month)),
                            std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok()) return std::nullopt;
  sys_time<milliseconds> first = sys_days(date);
  milliseconds unit = days(1);
  if (text.size() > 10) {
    int hour = 0, minute = 0;
    if ((text[10] != 'T' && text[10] != 't' && text[10] != ' ') || !ReadNumber(text, 11, 2, hour) ||
        text.size() < 16 || text[13] != ':' || !ReadNumber(text, 14, 2, minute) || hour > 23 ||
        minute > 59) {
      return std::nullopt;
    }
    first += hours(hour) + minutes(minute);
    unit = minutes(1);
    if (text.size() > 16) {
      int second = 0;
      if (text[16] != ':' || !ReadNumber(text, 17, 2, second) || second > 59) return std::nullopt;
      first += seconds(second);
      unit = seconds(1);
      if (text.size() > 19) {
        int millisecond = 0;
        if (text[19] != '.' || text.size() != 23 || !ReadNumber(text, 20, 3, millisecond)) {
          return std::nullopt;
        }
        first += milliseconds(millisecond);
        unit = milliseconds(1);
      }
    }
  }
  return DateSpan{FormatUtcTimestamp(first), FormatUtcTimestamp(first + unit)};
}

int RunHistory(const HistoryOptions& options, CommandIo& io) {
  RecordFilter filter;
  if (!options.since.empty()) {
    const auto span = ParseRecordDate(options.since);
    if (!span) {
      PrintError(io.err, "--since: not a date (YYYY-MM-DD[THH:MM[:SS]], UTC): " + options.since);
      return kExitUsage;
    }
    filter.since = span->first;
  }
  if (!options.until.empty()) {
    const auto span = ParseRecordDate(options.until);
    if (!span) {
      PrintError(io.err, "--until: not a date (YYYY-MM-DD[THH:MM[:SS]], UTC): " + options.until);
      return kExitUsage;
    }
    filter.before = span->after;
  }
  if (!options.verdict.empty()) {
    filter.verdict = VerdictFromName(options.verdict);
    if (!filter.verdict) {
      std::string names;
      for (const Verdict verdict : kAllVerdicts) {
        names += names.empty() ? "" : ", ";
        names += VerdictName(verdict);
      }
      PrintError(io.err,
                 "--verdict: unknown verdict " + options.verdict + " (one of " + names + ")");
      return kExitUsage;
    }
  }
  if (!options.port.empty()) filter.port = options.port;
  if (!options.model.empty()) filter.model = options.model;
  if (!options.station_name.empty()) filter.station = options.station_name;
  if (!options.operator_name.empty()) filter.operator_name = options.operator_name;
  if (!options.work_order.empty()) filter.work_order = options.work_order;
  const bool from_server = !options.server.empty() && options.records_file.empty();

  const std::string path =
      options.records_file.empty() ? DefaultRecordsPath() : options.records_file;
  if (path.empty() && !from_server) {
    PrintError(io.err, "no records file: give --records FILE or set STBUP_RECORDS");
    return kExitInternalError;
  }
  // Everything goes out record by record; the table reads the records
  // twice, sizing its columns on the first pass.
  const bool table = !options.csv && !options.json &&
                     options.out_is_terminal.value_or(::isatty(STDOUT_FILENO) == 1);
  RecordsTable rows;
  bool header_written = false;  // once the file has been read, also with no record
  const auto header = [&] {
    if (options.csv && !header_written) WriteRecordsCsvHeader(io.out);
    header_written = true;
  };
  try {
    const auto emit = [&](int pass, const BoxRecord& record) {
      if (table) {
        if (pass == 0) {
          rows.Measure(record);
          return;
        }
        if (!header_written) rows.WriteHeader(io.out);
        header_written = true;
        rows.WriteRow(record, io.out);
      } else if (options.csv) {
        header();
        WriteRecordCsvLine(record, io.out);
      } else {
        WriteRecordJsonLine(record, io.out);
      }
    };
    if (!from_server) {
      ReadRecords(path, filter, table ? 2 : 1, emit);
    } else if (table) {
      // The server's records are read once: the table sizes its columns from
      // what it holds of them.
      std::vector<BoxRecord> all;
      ReadServerRecords(options.server, filter,
                        [&](const BoxRecord& record) { all.push_back(record); });
      for (int pass = 0; pass < 2; ++pass) {
        for (const BoxRecord& record : all) emit(pass, record);
      }
    } else {
      ReadServerRecords(options.server, filter, [&](const BoxRecord& record) { emit(0, record); });
    }
  } catch (const NoRecordsYet&) {
    PrintError(io.err, "no records yet (" + path + ")");
    return kExitOk;
  } catch (const RecordsError& error) {
    PrintError(io.err, std::string("records: ") + error.what());
    return kExitInternalError;
  }
  if (table) {
    if (!header_written) rows.WriteHeader(io.out);
    rows.WriteCount(io.out);
    return kExitOk;
  }
  header();
  return kExitOk;
}

void AddHistoryCommand(CommandRegistry& registry) {
  auto options = std::make_shared<HistoryOptions>();
  CLI::App* sub = registry.Add("history", "Show the records of boxes upgraded so far",
                               [options](CommandIo& io) { return RunHistory(*options, io); });
  sub->add_option("--records", options->records_file,
                  std::string("The records file (default: $STBUP_RECORDS, else ") +
                      DefaultRecordsPlace() + ")");
  sub->add_option("--since", options->since,
                  "Boxes started at or after DATE (UTC: YYYY-MM-DD[THH:MM[:SS[.mmm]]])");
  sub->add_option("--until", options->until,
                  "Boxes started up to DATE, inclusive: a day, a minute or a second whole");
  sub->add_option("--port", options->port, "Only this port, named as it was given");
  sub->add_option("--model", options->model, "Only boxes or images of this model");
  sub->add_option("--verdict", options->verdict,
                  "Only this verdict: upgraded, refused, failed, restarted, port_gone, timeout, "
                  "success_after_failure, interrupted, accepted");
  sub->add_option("--station-name", options->station_name, "Only boxes of this station");
  sub->add_option("--operator", options->operator_name, "Only boxes this operator ran");
  sub->add_option("--order", options->work_order, "Only boxes of this work order");
  AddRecordsServerOption(*sub, options->server,
                         "Read the line's PostgreSQL database instead of the file (--records "
                         "wins)");
  auto* json = sub->add_flag("--json", options->json, "JSON Lines, one record per line");
  auto* csv = sub->add_flag("--csv", options->csv, "CSV with a header line");
  json->excludes(csv);
  sub->footer(
      "On a terminal a table; otherwise JSON Lines unless --csv is given. In CSV a field "
      "beginning with =, +, -, @, a tab or a carriage return gets a leading ' so that a "
      "spreadsheet never runs it as a formula, and control characters are written as "
      "\\xNN.\nExit status: 0 (also when nothing matches), 1 the records cannot be read "
      "(also a FIFO, a folder, a link loop or a file that is not an SQLite database), 2 "
      "usage.");
}

}  // namespace stbup
