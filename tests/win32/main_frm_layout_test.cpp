#include "app/win32/main_frm.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/core/main_frm_layout.h"
#include "app/win32/design_fonts.h"
#include "app/win32/panel.h"
#include "app/win32/text.h"

namespace stbup {
namespace {

using main_frm_layout::Kind;

// The window class standing for each of the design's kinds.
std::wstring Win32Kind(Kind kind) {
  switch (kind) {
    case Kind::kToolBar:
      return TOOLBARCLASSNAMEW;
    case Kind::kButton:
      return L"Button";
    case Kind::kComboBox:
      return L"ComboBox";
    case Kind::kPanel:
      return Panel::ClassName();
    case Kind::kLabel:
      return L"Static";
    case Kind::kEdit:
    case Kind::kMemo:
      return L"Edit";
    case Kind::kProgressBar:
      return PROGRESS_CLASSW;
    case Kind::kStatusBar:
      return STATUSCLASSNAMEW;
  }
  return L"";
}

std::wstring ClassOf(HWND control) {
  wchar_t name[64] = {};
  ::GetClassNameW(control, name, 64);
  return name;
}

std::wstring TextOf(HWND control) {
  wchar_t text[256] = {};
  ::GetWindowTextW(control, text, 256);
  return text;
}

// A control's place within its parent's client area, read back from the
// screen as the operator sees it.
RECT PlaceInParent(HWND control) {
  RECT place;
  ::GetWindowRect(control, &place);
  ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&place), 2);
  return place;
}

std::string Narrow(const std::wstring& text) { return BytesFromWide(text); }

std::string Describe(const RECT& place) {
  return std::to_string(place.left) + "," + std::to_string(place.top) + " " +
         std::to_string(place.right - place.left) + "x" + std::to_string(place.bottom - place.top);
}

COLORREF Ref(Colour colour) { return RGB(colour.r, colour.g, colour.b); }

// What the window tells a control to paint with: its text and background.
std::pair<COLORREF, COLORREF> PaintColours(HWND window, HWND control, UINT message) {
  HDC dc = ::GetDC(control);
  ::SendMessageW(window, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
  std::pair<COLORREF, COLORREF> colours{::GetTextColor(dc), ::GetBkColor(dc)};
  ::ReleaseDC(control, dc);
  return colours;
}

TEST(MainFrmLayout, EveryControlHasItsKindParentPlaceAndCaption) {
  TMainFrm frame;
  for (const main_frm_layout::Control& row : main_frm_layout::kControls) {
    SCOPED_TRACE(std::string(row.name));
    HWND control = frame.Control(row.name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(Narrow(ClassOf(control)), Narrow(Win32Kind(row.kind)));
    EXPECT_EQ(frame.NameOf(::GetParent(control)), row.parent);

    const RECT place = PlaceInParent(control);
    EXPECT_EQ(place.left, row.place.left);
    EXPECT_EQ(place.top, row.place.top);
    const std::wstring caption = TextOf(control);
    const SIZE sized = frame.CaptionSize(control, caption);
    const int width = row.place.width > 0 ? row.place.width : sized.cx;
    const int height = row.place.height > 0 ? row.place.height : sized.cy;
    EXPECT_EQ(place.right - place.left, width) << Describe(place);
    EXPECT_EQ(place.bottom - place.top, height) << Describe(place);

    EXPECT_EQ(Narrow(caption), row.caption);
  }
}

TEST(MainFrmLayout, WindowIsFixedWithoutMaximiseAtItsPlace) {
  TMainFrm frame;
  RECT client;
  ::GetClientRect(frame.Handle(), &client);
  EXPECT_EQ(client.right, 546);
  EXPECT_EQ(client.bottom, 529);
  RECT outer;
  ::GetWindowRect(frame.Handle(), &outer);
  EXPECT_EQ(outer.left, 30);
  EXPECT_EQ(outer.top, 50);
  const LONG_PTR style = ::GetWindowLongPtrW(frame.Handle(), GWL_STYLE);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_TRUE(style & WS_SYSMENU);
}

TEST(MainFrmLayout, PortSelectorHoldsTenPortsAndTakesNoFreeText) {
  TMainFrm frame;
  ASSERT_EQ(::SendMessageW(frame.cbPort, CB_GETCOUNT, 0, 0), 10);
  for (int i = 0; i < 10; ++i) {
    wchar_t item[16] = {};
    ::SendMessageW(frame.cbPort, CB_GETLBTEXT, static_cast<WPARAM>(i),
                   reinterpret_cast<LPARAM>(item));
    EXPECT_EQ(Narrow(item), "COM" + std::to_string(i + 1));
  }
  EXPECT_EQ(::GetWindowLongPtrW(frame.cbPort, GWL_STYLE) & 3, CBS_DROPDOWNLIST);
}

TEST(MainFrmLayout, StackingOrderBottomToTop) {
  TMainFrm frame;
  std::vector<std::string> top_to_bottom;
  for (HWND child = ::GetWindow(frame.Handle(), GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    top_to_bottom.emplace_back(frame.NameOf(child));
  }
  const std::vector<std::string> design(main_frm_layout::kStackingOrder.rbegin(),
                                        main_frm_layout::kStackingOrder.rend());
  EXPECT_EQ(top_to_bottom, design);
  EXPECT_EQ(top_to_bottom, (std::vector<std::string>{"Panel4", "ToolBar1", "Panel2", "Panel1",
                                                     "StatusBar1", "Panel3"}));
}

TEST(MainFrmLayout, FontsAreTheDesignsOrTheirClosestInstalledFamily) {
  struct Row {
    const char* name;
    main_frm_layout::Font font;
  };
  const Row rows[] = {
      {"bbFileOpen", main_frm_layout::kDefaultFont},
      {"lableFileName", main_frm_layout::kDefaultFont},
      {"Label3", main_frm_layout::kLabel3Font},
      {"lblLogoName", main_frm_layout::kLogoFont},
      {"Memo2", main_frm_layout::kMemoFont},
  };
  TMainFrm frame;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto* font = reinterpret_cast<HFONT>(::SendMessageW(frame.Control(row.name), WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTW logical{};
    ::GetObjectW(font, sizeof logical, &logical);
    EXPECT_EQ(logical.lfHeight, -row.font.pixels);
    EXPECT_EQ(logical.lfWeight >= FW_BOLD, row.font.bold);
    EXPECT_EQ(logical.lfItalic != 0, row.font.italic);
    // The face GDI actually draws with is the design's or a listed substitute.
    HDC dc = ::GetDC(frame.Handle());
    HGDIOBJ previous = ::SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = {};
    ::GetTextFaceW(dc, LF_FACESIZE, face);
    ::SelectObject(dc, previous);
    ::ReleaseDC(frame.Handle(), dc);
    EXPECT_EQ(Narrow(face), Narrow(InstalledFamily(row.font)));
  }
}

TEST(MainFrmLayout, ColoursOfBannerPanelsEditsAndMemo) {
  using namespace main_frm_layout;
  TMainFrm frame;
  const auto logo = PaintColours(frame.Handle(), frame.lblLogoName, WM_CTLCOLORSTATIC);
  EXPECT_EQ(logo.first, RGB(255, 255, 255));
  EXPECT_EQ(logo.second, RGB(128, 128, 128));
  EXPECT_EQ(Panel::GetColour(frame.Panel3), system_colours::kButtonFace);
  for (HWND panel : {frame.Panel1, frame.Panel2, frame.Panel4}) {
    EXPECT_EQ(Panel::GetColour(panel), system_colours::kMenu);
  }
  // A label paints on its panel's colour.
  EXPECT_EQ(PaintColours(frame.Handle(), frame.lableDownLoad, WM_CTLCOLORSTATIC).second,
            Ref(system_colours::kMenu));
  for (HWND edit : {frame.edFileName, frame.edHV, frame.edSV, frame.edType, frame.edModelName,
                    frame.edStartBlock}) {
    const auto colours = PaintColours(frame.Handle(), edit, WM_CTLCOLOREDIT);
    EXPECT_EQ(colours.second, Ref(system_colours::kInactiveBorder));
    EXPECT_FALSE(::GetWindowLongPtrW(edit, GWL_STYLE) & ES_READONLY);
  }
  const LONG_PTR memo = ::GetWindowLongPtrW(frame.Memo2, GWL_STYLE);
  EXPECT_TRUE(memo & ES_READONLY);
  EXPECT_TRUE(memo & ES_MULTILINE);
  EXPECT_TRUE(memo & WS_VSCROLL);
  EXPECT_TRUE(memo & WS_HSCROLL);
  // A read-only edit asks for the static colours.
  const auto memo_colours = PaintColours(frame.Handle(), frame.Memo2, WM_CTLCOLORSTATIC);
  EXPECT_EQ(memo_colours.first, Ref(colours::kWindowText));
  EXPECT_EQ(memo_colours.second, Ref(system_colours::kWindow));
}

// The metrics of the fonts found here are not the design's: every caption
// must still fit its place.
TEST(MainFrmLayout, CaptionsFitWithoutClipping) {
  TMainFrm frame;
  const std::pair<HWND, HWND> pairs[] = {
      {frame.Label2, frame.Label3},
      {frame.lableFileName, frame.edFileName},
      {frame.lableHardVer, frame.edHV},
      {frame.lableFileType, frame.edType},
      {frame.lableModel, frame.edModelName},
      {frame.lableSoftVer, frame.edSV},
      {frame.lableStartBlock, frame.edStartBlock},
      {frame.lableDownLoad, frame.pb1},
      {frame.lableFlashWrite, frame.pb2},
      {frame.Label1, frame.Memo2},
  };
  for (const auto& [label, next] : pairs) {
    SCOPED_TRACE(std::string(frame.NameOf(label)));
    EXPECT_LE(PlaceInParent(label).right, PlaceInParent(next).left);
  }
  for (HWND button : {frame.bbFileOpen, frame.bbConnect, frame.bbExit}) {
    const RECT place = PlaceInParent(button);
    for (const wchar_t* caption : {L"File Open", L"Connected", L"Disconnected", L"Exit"}) {
      const bool connect_caption = std::wstring(caption).find(L"onnected") != std::wstring::npos;
      if (connect_caption != (button == frame.bbConnect)) continue;
      EXPECT_LE(frame.CaptionSize(button, caption).cx + 8, place.right - place.left)
          << Narrow(caption);
    }
  }
  // The longest texts the banner and the amounts (an 8 MiB flash) will carry.
  const RECT logo = PlaceInParent(frame.lblLogoName);
  for (const wchar_t* banner : {L"Simple and Speedy", L"FLASH Write error !", L"FLASH writing...!",
                                L"UnCompressing...", L"Downloading...", L"Disconnected !"}) {
    const SIZE size = frame.CaptionSize(frame.lblLogoName, banner);
    EXPECT_LE(size.cx, logo.right - logo.left) << Narrow(banner);
    EXPECT_LE(size.cy, logo.bottom - logo.top);
  }
  const RECT amounts = PlaceInParent(frame.labelFileSize);
  EXPECT_LE(amounts.left + frame.CaptionSize(frame.labelFileSize, L"(8388608 / 8388608)").cx,
            main_frm_layout::Find("Panel1").place.width);
}

}  // namespace
}  // namespace stbup
