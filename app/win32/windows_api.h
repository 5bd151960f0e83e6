#pragma once

// <windows.h> for the window's files. Its macros are taken back where they
// would rename the window logic's own members (WindowControls::
// SetCurrentDirectory, MainWindow's LoadImage) or the serial component's
// constants of the same names as the Win32 ones (EV_RXCHAR ..., CE_FRAME ...);
// this code calls the W functions by their full names.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef LoadImage
#undef SetCurrentDirectory

#undef EV_RXCHAR
#undef EV_RXFLAG
#undef EV_TXEMPTY
#undef EV_CTS
#undef EV_DSR
#undef EV_RLSD
#undef EV_BREAK
#undef EV_ERR
#undef EV_RING
#undef EV_PERR
#undef EV_RX80FULL
#undef EV_EVENT1
#undef EV_EVENT2
#undef CE_RXOVER
#undef CE_OVERRUN
#undef CE_RXPARITY
#undef CE_FRAME
#undef CE_BREAK
