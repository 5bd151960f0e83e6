#pragma once

#include <ostream>
#include <vector>

#include "app/core/box_record.h"

namespace stbup {

// The three shapes `stbup history` prints records in. JSON Lines and CSV
// carry every field under the database's column names, in its order; an
// absent value is null in JSON and an empty field in CSV.

// One JSON object per line.
void WriteRecordJsonLine(const BoxRecord& record, std::ostream& out);
void WriteRecordsJsonLines(const std::vector<BoxRecord>& records, std::ostream& out);
// A header line, then one line per record; RFC 4180 quoting (a field with a
// comma, a quote or a line end is quoted, quotes doubled).
void WriteRecordsCsvHeader(std::ostream& out);
void WriteRecordCsvLine(const BoxRecord& record, std::ostream& out);
void WriteRecordsCsv(const std::vector<BoxRecord>& records, std::ostream& out);
// For a terminal: one aligned row per box, the main facts only; control
// characters from a box are shown as \xNN.
void WriteRecordsTable(const std::vector<BoxRecord>& records, std::ostream& out);

}  // namespace stbup
