#pragma once

#include "app/win32/windows_api.h"

#include "seams/colour.h"

namespace stbup {

// The window class of the design's panels: a raised frame filled with its
// colour that shows its caption (the window text) centred beneath whatever it
// holds. What its controls report (commands, colour requests, notifications)
// goes on to the panel's parent, the window, as if they were its own.
class Panel {
 public:
  static const wchar_t* ClassName();
  // Registers the class once per process.
  static void Register(HINSTANCE instance);
  static void SetColour(HWND panel, Colour colour);
  static Colour GetColour(HWND panel);
};

// RGB of a Colour for GDI.
inline COLORREF ToColorRef(Colour colour) { return RGB(colour.r, colour.g, colour.b); }

}  // namespace stbup
