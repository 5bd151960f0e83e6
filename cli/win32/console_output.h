#pragma once

#include <windows.h>

namespace stbup {

// Whether output through this handle reaches a console that obeys terminal
// sequences: a console is asked to (ENABLE_VIRTUAL_TERMINAL_PROCESSING,
// Windows 10 and later); a file, a pipe or an older console is not one.
bool ConsoleTakesSequences(HANDLE output);

// The columns of the console's window; 0 when the handle is no console.
int ConsoleColumns(HANDLE output);

}  // namespace stbup
