#pragma once

#include <ostream>
#include <vector>

#include "seams/box_record.h"

namespace stbup {

// The three shapes `stbup history` prints records in. JSON Lines and CSV
// carry every field under the database's column names, in its order; an
// absent value is null in JSON and an empty field in CSV.

// One JSON object per line.
void WriteRecordJsonLine(const BoxRecord& record, std::ostream& out);
void WriteRecordsJsonLines(const std::vector<BoxRecord>& records, std::ostream& out);
// A header line, then one line per record, one record a line. Fields are
// made safe for a spreadsheet and a terminal first: a field beginning with
// "=", "+", "-", "@", a tab or a carriage return gets a leading "'" (so it is
// never taken for a formula), and control characters (C0, DEL, C1) are
// written as \xNN, as stdout shows memo lines. Then RFC 4180 quoting (a
// field with a comma or a quote is quoted, quotes doubled).
void WriteRecordsCsvHeader(std::ostream& out);
void WriteRecordCsvLine(const BoxRecord& record, std::ostream& out);
void WriteRecordsCsv(const std::vector<BoxRecord>& records, std::ostream& out);
// For a terminal: one aligned row per box, the main facts only; control
// characters from a box are shown as \xNN.
void WriteRecordsTable(const std::vector<BoxRecord>& records, std::ostream& out);

// The same table over records read twice, holding none of them: every record
// is measured on the first pass, then the header, each row and the count are
// written on the second.
class RecordsTable {
 public:
  RecordsTable();
  void Measure(const BoxRecord& record);
  void WriteHeader(std::ostream& out) const;
  void WriteRow(const BoxRecord& record, std::ostream& out);
  // "N boxes": the rows written.
  void WriteCount(std::ostream& out) const;

 private:
  void WriteCells(const std::vector<std::string>& cells, std::ostream& out) const;

  std::vector<std::size_t> widths_;
  std::size_t rows_ = 0;
  // Some record measured names its operator, its work order.
  bool operators_ = false;
  bool orders_ = false;
};

}  // namespace stbup
