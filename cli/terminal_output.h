#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace stbup {

// What the station's live table needs of its standard output, each platform
// its own way (cli/posix/, cli/win32/).

// Whether standard output is a terminal that obeys the table's cursor
// sequences. On Windows a console is asked to obey them first; one that
// cannot, like a file or a pipe, gets plain lines.
bool PrepareLiveTableOutput();

// The columns a line of the table may take; 160 when not known. A Windows
// console moves to the next line once its last column is written: one column
// is kept free there.
std::size_t OutputColumns();

// Draws the table's next frame over the previous one, which took
// previous_lines lines, and clears what is left of that below it. Linux: the
// terminal's own sequences and the frame in one write, so the terminal never
// shows half of one. Windows: on a console, each line written over the old
// one in a single call of the console's own, which every console obeys
// (Wine's takes the sequences' mode but not the sequences); elsewhere the
// lines as they are.
void DrawLiveFrame(std::ostream& out, std::size_t previous_lines,
                   const std::vector<std::string>& lines);

// The local time of day, "14:03:59", that begins an event line.
std::string LocalClockTime();

}  // namespace stbup
