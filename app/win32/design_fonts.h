#pragma once

#include "app/win32/windows_api.h"

#include <string>

#include "app/core/main_frm_layout.h"

namespace stbup {

// The face a design font is drawn in: its own family where installed (always,
// on Windows), else the first installed metric-compatible substitute.
std::wstring InstalledFamily(const main_frm_layout::Font& font);

// The design's fonts as GDI fonts, made once for the window's life. Heights
// are the design's pixel sizes (its point sizes at 96 dots per inch), so the
// fixed places keep fitting whatever the screen's resolution.
class DesignFonts {
 public:
  DesignFonts();
  ~DesignFonts();
  DesignFonts(const DesignFonts&) = delete;
  DesignFonts& operator=(const DesignFonts&) = delete;

  HFONT Default() const { return default_; }
  HFONT Label3() const { return label3_; }
  HFONT Logo() const { return logo_; }
  HFONT Memo() const { return memo_; }

  static HFONT Create(const main_frm_layout::Font& font);

 private:
  HFONT default_;
  HFONT label3_;
  HFONT logo_;
  HFONT memo_;
};

}  // namespace stbup
