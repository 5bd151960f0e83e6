#pragma once

#include <array>
#include <stdexcept>
#include <string_view>

#include "seams/colour.h"

namespace stbup::main_frm_layout {

// TMainFrm as the operator sees it, in numbers every front end builds from and
// every front end's layout test checks against: the fixed client area, the
// window's place, each control's kind, parent, place and caption, the stacking
// order, the fonts and the colours.

inline constexpr int kClientWidth = 546;
inline constexpr int kClientHeight = 529;
inline constexpr int kLeft = 30;
inline constexpr int kTop = 50;

enum class Kind {
  kToolBar,
  kButton,
  kComboBox,
  kPanel,
  kLabel,
  kEdit,
  kProgressBar,
  kMemo,
  kStatusBar
};

// Left, top, width and height in pixels within the parent. A width or height
// of 0 means sized to the caption, as the design's labels are.
struct Place {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

struct Control {
  std::string_view name;
  Kind kind;
  std::string_view parent;  // "MainFrm" for the window itself
  Place place;
  std::string_view caption;  // what it shows once built, before start-up
};

inline constexpr std::string_view kWindowName = "MainFrm";

inline constexpr std::array kControls = {
    Control{"ToolBar1", Kind::kToolBar, "MainFrm", {0, 0, 546, 29}, ""},
    Control{"bbFileOpen", Kind::kButton, "ToolBar1", {0, 2, 113, 21}, "File Open"},
    Control{"cbPort", Kind::kComboBox, "ToolBar1", {209, 2, 112, 21}, "COM1"},
    Control{"bbConnect", Kind::kButton, "ToolBar1", {321, 2, 88, 21}, "Connected"},
    Control{"bbExit", Kind::kButton, "ToolBar1", {425, 2, 112, 21}, "Exit"},
    Control{"Panel3", Kind::kPanel, "MainFrm", {-1, 32, 546, 489}, "Panel3"},
    Control{"lblLogoName", Kind::kLabel, "Panel3", {1, 1, 545, 97}, "Simple and Speedy"},
    Control{"Label2", Kind::kLabel, "Panel3", {8, 280, 0, 0}, "STB Info ::"},
    Control{"Label3", Kind::kLabel, "Panel3", {56, 280, 0, 0}, "???"},
    Control{"Panel4", Kind::kPanel, "MainFrm", {0, 133, 545, 98}, ""},
    Control{"lableFileName", Kind::kLabel, "Panel4", {9, 17, 0, 0}, "File Name"},
    Control{"edFileName", Kind::kEdit, "Panel4", {79, 15, 291, 21}, ""},
    Control{"lableHardVer", Kind::kLabel, "Panel4", {9, 42, 0, 0}, "Hardware"},
    Control{"edHV", Kind::kEdit, "Panel4", {79, 39, 195, 21}, ""},
    Control{"lableFileType", Kind::kLabel, "Panel4", {12, 66, 0, 0}, "Type"},
    Control{"edType", Kind::kEdit, "Panel4", {79, 63, 195, 21}, ""},
    Control{"lableModel", Kind::kLabel, "Panel4", {389, 18, 0, 0}, "Model"},
    Control{"edModelName", Kind::kEdit, "Panel4", {425, 15, 105, 21}, ""},
    Control{"lableSoftVer", Kind::kLabel, "Panel4", {290, 44, 0, 0}, "Software"},
    Control{"edSV", Kind::kEdit, "Panel4", {350, 39, 180, 21}, ""},
    Control{"lableStartBlock", Kind::kLabel, "Panel4", {289, 66, 0, 0}, "StartBlock"},
    Control{"edStartBlock", Kind::kEdit, "Panel4", {350, 62, 180, 21}, ""},
    Control{"Panel1", Kind::kPanel, "MainFrm", {0, 223, 545, 73}, ""},
    Control{"lableDownLoad", Kind::kLabel, "Panel1", {16, 20, 0, 0}, "DownLoad"},
    Control{"pb1", Kind::kProgressBar, "Panel1", {88, 17, 337, 16}, ""},
    Control{"lableFlashWrite", Kind::kLabel, "Panel1", {16, 44, 0, 0}, "Flash Write"},
    Control{"pb2", Kind::kProgressBar, "Panel1", {88, 41, 337, 16}, ""},
    // The amounts change with every block: as wide as the room to the panel's
    // edge, so a new text never asks for a new layout.
    Control{"labelFileSize", Kind::kLabel, "Panel1", {436, 18, 109, 0}, "(  /  )"},
    Control{"Panel2", Kind::kPanel, "MainFrm", {0, 352, 545, 177}, ""},
    Control{"Label1", Kind::kLabel, "Panel2", {8, 24, 0, 0}, "MEMO"},
    Control{"Memo2", Kind::kMemo, "Panel2", {56, 8, 481, 153}, ""},
    Control{"StatusBar1", Kind::kStatusBar, "MainFrm", {0, 524, 546, 5}, ""},
};

// The window's own children, bottom of the stacking order first: a later one
// covers an earlier one where they overlap.
inline constexpr std::array<std::string_view, 6> kStackingOrder = {
    "Panel3", "StatusBar1", "Panel1", "Panel2", "ToolBar1", "Panel4"};

// The row of the named control; the table above is the whole design, so a
// name not in it is a programming error (and no constant expression).
constexpr const Control& Find(std::string_view name) {
  for (const Control& control : kControls) {
    if (control.name == name) return control;
  }
  throw std::out_of_range("no such control in TMainFrm's design");
}

// The design's fonts. Pixel sizes stand for the point sizes at 96 dots per
// inch, so the fixed places keep fitting whatever the screen reports.
struct Font {
  std::string_view family;
  int points;
  int pixels;
  bool bold;
  bool italic;
};

inline constexpr Font kDefaultFont{"MS Sans Serif", 8, 11, false, false};
inline constexpr Font kLabel3Font{"Microsoft Sans Serif", 10, 13, true, false};
inline constexpr Font kLogoFont{"Times New Roman", 40, 53, true, true};
inline constexpr Font kMemoFont{"Verdana", 8, 11, false, false};

// Label2's caption sits 48 pixels before Label3; faces a little wider than the
// design's are set this much tighter, in percent of their normal spacing.
inline constexpr int kLabel2Spacing = 92;

// Metric-compatible families for the design's, where those are not installed;
// the first one found is used.
inline constexpr std::array<std::string_view, 4> kSansSubstitutes = {"Liberation Sans", "Arimo",
                                                                     "Nimbus Sans", "DejaVu Sans"};
inline constexpr std::array<std::string_view, 4> kSerifSubstitutes = {
    "Liberation Serif", "Tinos", "Nimbus Roman", "DejaVu Serif"};
inline constexpr std::array<std::string_view, 3> kVerdanaSubstitutes = {
    "DejaVu Sans", "Bitstream Vera Sans", "Liberation Sans"};

// The platform colours the design names, at their usual values, so every
// front end shows the same window whatever theme the desktop has.
namespace system_colours {
inline constexpr Colour kButtonFace{240, 240, 240};      // the window's face
inline constexpr Colour kMenu{240, 240, 240};            // Panel1, Panel2, Panel4
inline constexpr Colour kInactiveBorder{244, 247, 252};  // the edits of Panel4
inline constexpr Colour kWindow{255, 255, 255};          // Memo2's background
}  // namespace system_colours

// The banner as start-up shows it: the button-highlight colour on grey.
inline constexpr Colour kLogoText = colours::kButtonHighlight;
inline constexpr Colour kLogoBackground = colours::kGrey;

}  // namespace stbup::main_frm_layout
