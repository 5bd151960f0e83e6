#include "app/win32/design_fonts.h"

#include <span>

#include "app/win32/text.h"

namespace stbup {

namespace {

int CALLBACK FoundFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool Installed(const std::wstring& family) {
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  family.copy(wanted.lfFaceName, LF_FACESIZE - 1);
  bool found = false;
  HDC screen = ::GetDC(nullptr);
  ::EnumFontFamiliesExW(screen, &wanted, FoundFamily, reinterpret_cast<LPARAM>(&found), 0);
  ::ReleaseDC(nullptr, screen);
  return found;
}

std::span<const std::string_view> SubstitutesFor(const main_frm_layout::Font& font) {
  using namespace main_frm_layout;
  if (font.family == kLogoFont.family) return kSerifSubstitutes;
  if (font.family == kMemoFont.family) return kVerdanaSubstitutes;
  return kSansSubstitutes;
}

}  // namespace

std::wstring InstalledFamily(const main_frm_layout::Font& font) {
  const std::wstring design = WideFromBytes(font.family);
  if (Installed(design)) return design;
  for (std::string_view substitute : SubstitutesFor(font)) {
    std::wstring family = WideFromBytes(substitute);
    if (Installed(family)) return family;
  }
  // Left to the font mapper, which at least keeps the kind of face.
  return design;
}

HFONT DesignFonts::Create(const main_frm_layout::Font& font) {
  const std::wstring family = InstalledFamily(font);
  const bool serif = font.family == main_frm_layout::kLogoFont.family;
  return ::CreateFontW(-font.pixels, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, font.italic, FALSE,
                       FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS,
                       CLEARTYPE_QUALITY, (serif ? FF_ROMAN : FF_SWISS) | VARIABLE_PITCH,
                       family.c_str());
}

DesignFonts::DesignFonts()
    : default_(Create(main_frm_layout::kDefaultFont)),
      label3_(Create(main_frm_layout::kLabel3Font)),
      logo_(Create(main_frm_layout::kLogoFont)),
      memo_(Create(main_frm_layout::kMemoFont)) {}

DesignFonts::~DesignFonts() {
  for (HFONT font : {default_, label3_, logo_, memo_}) ::DeleteObject(font);
}

}  // namespace stbup
