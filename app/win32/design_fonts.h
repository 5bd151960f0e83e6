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
  // The default font set a little tighter (main_frm_layout::kLabel2Spacing),
  // so Label2's caption ends before Label3 where the face is a little wider
  // than the design's.
  HFONT Label2() const { return label2_; }
  HFONT Label3() const { return label3_; }
  HFONT Logo() const { return logo_; }
  HFONT Memo() const { return memo_; }

  // average_width: the characters' average width in pixels; 0 for the face's own.
  static HFONT Create(const main_frm_layout::Font& font, int average_width = 0);

 private:
  HFONT default_;
  HFONT label2_;
  HFONT label3_;
  HFONT logo_;
  HFONT memo_;
};

}  // namespace stbup
