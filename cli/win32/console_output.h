#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <windows.h>

namespace stbup {

// Whether output through this handle reaches a console that obeys terminal
// sequences: a console is asked to (ENABLE_VIRTUAL_TERMINAL_PROCESSING,
// Windows 10 and later); a file, a pipe or an older console is not one.
bool ConsoleTakesSequences(HANDLE output);

// The columns of the console's window; 0 when the handle is no console.
int ConsoleColumns(HANDLE output);

// The frame written over the previous one, which took previous_lines lines
// above the cursor: each line padded to the window's width so that it covers
// the old one, all in one call, then the rows below it cleared; the cursor
// ends at the start of the line after the frame. False when the handle is no
// console.
bool DrawConsoleFrame(HANDLE output, std::size_t previous_lines,
                      const std::vector<std::string>& lines);

}  // namespace stbup
