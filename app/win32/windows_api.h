#pragma once

// <windows.h> for the window's files. Its A/W macros are taken back where
// they would rename the window logic's own members (WindowControls::
// SetCurrentDirectory, MainWindow's LoadImage); this code calls the W
// functions by their full names.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef LoadImage
#undef SetCurrentDirectory
