#pragma once

#include <cstddef>
#include <string>

namespace stbup {

// What the station's live table needs of its standard output, each platform
// its own way (cli/posix/, cli/win32/).

// Whether standard output is a terminal that obeys the table's cursor
// sequences. On Windows a console is asked to obey them first; one that
// cannot, like a file or a pipe, gets plain lines.
bool PrepareLiveTableOutput();

// The columns of the terminal standard output shows in; 160 when not known.
std::size_t OutputColumns();

// The local time of day, "14:03:59", that begins an event line.
std::string LocalClockTime();

}  // namespace stbup
