#pragma once

#include "app/win32/windows_api.h"

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/main_frm_layout.h"
#include "app/win32/design_fonts.h"
#include "seams/colour.h"

namespace stbup {

// MainFrm, the tool's one window, as a native Win32 window: every control of
// the design at its fixed place (main_frm_layout), named as the design names
// it. The window logic and the handlers are attached by MainFrmController;
// this class is only what the operator sees and the events it raises.
class TMainFrm {
 public:
  // Control identifiers of WM_COMMAND: the row in the design table plus this.
  static constexpr int kFirstControlId = 100;
  static constexpr UINT_PTR kTimer1Id = 1;
  static constexpr UINT_PTR kMemoTimerId = 2;
  static constexpr UINT_PTR kRecordsTimerId = 3;

  // Creates the window (hidden) and all its controls.
  TMainFrm();
  ~TMainFrm();
  TMainFrm(const TMainFrm&) = delete;
  TMainFrm& operator=(const TMainFrm&) = delete;

  HWND Handle() const { return window_; }
  // The design's control of that name; nullptr for a name not in the design.
  HWND Control(std::string_view name) const;
  // The design's name of a control of this window; empty for any other.
  std::string_view NameOf(HWND control) const;

  // Keys of the window and of Memo2 (not those of edits, the combo box or
  // the buttons) as characters, Enter being 13, and Enter wherever the focus
  // is within the window.
  std::function<void(char)> OnKeyPress;
  // The close event: returns false to keep the window open.
  std::function<bool()> OnClose;
  // bbFileOpen, bbConnect, bbExit clicked; cbPort chosen by the operator
  // (also the item already shown), with the chosen index.
  std::function<void()> OnFileOpen;
  std::function<void()> OnConnect;
  std::function<void()> OnExit;
  std::function<void(int)> OnPortChosen;
  // cbPort's list is about to drop down: its items may be set anew.
  std::function<void()> OnPortListOpening;
  // The window has gone (closed): the tool ends.
  std::function<void()> OnDestroy;
  // The View's timer for putting gathered lines into Memo2.
  std::function<void()> OnMemoTimer;
  // Timer1's tick (SetTimer on this window).
  std::function<void()> OnTimer1;
  // The session's look at whether the records' writer has tried a box's record.
  std::function<void()> OnRecordsTimer;

  // To be called by the message loop for every message before it is
  // dispatched; true when the message has been handled here (Enter, and
  // Tab between the controls).
  bool PreTranslateMessage(const MSG& message);

  // Colours of a control's text and background, applied as it paints.
  void SetColours(HWND control, Colour text, Colour background);
  Colour TextColour(HWND control) const;
  Colour BackgroundColour(HWND control) const;

  // Sets a label's caption and sizes it to the caption, as the design's
  // labels are (those of fixed width keep their width).
  void SetLabelCaption(HWND label, std::wstring_view caption);
  // The size a label takes for its caption in its font.
  SIZE CaptionSize(HWND label, std::wstring_view caption) const;

  // Enables or disables a control; the focus never moves to an edit when the
  // focused control is disabled, it goes to the window itself.
  void EnableControl(HWND control, bool enabled);

  const DesignFonts& Fonts() const { return fonts_; }

  // Named handles of the design's controls, bottom of the stacking order first.
  HWND Panel3 = nullptr;
  HWND lblLogoName = nullptr;
  HWND Label2 = nullptr;
  HWND Label3 = nullptr;
  HWND StatusBar1 = nullptr;
  HWND Panel1 = nullptr;
  HWND lableDownLoad = nullptr;
  HWND pb1 = nullptr;
  HWND lableFlashWrite = nullptr;
  HWND pb2 = nullptr;
  HWND labelFileSize = nullptr;
  HWND Panel2 = nullptr;
  HWND Label1 = nullptr;
  HWND Memo2 = nullptr;
  HWND ToolBar1 = nullptr;
  HWND bbFileOpen = nullptr;
  HWND cbPort = nullptr;
  HWND bbConnect = nullptr;
  HWND bbExit = nullptr;
  HWND Panel4 = nullptr;
  HWND lableFileName = nullptr;
  HWND edFileName = nullptr;
  HWND lableHardVer = nullptr;
  HWND edHV = nullptr;
  HWND lableFileType = nullptr;
  HWND edType = nullptr;
  HWND lableModel = nullptr;
  HWND edModelName = nullptr;
  HWND lableSoftVer = nullptr;
  HWND edSV = nullptr;
  HWND lableStartBlock = nullptr;
  HWND edStartBlock = nullptr;

 private:
  struct Colours {
    Colour text;
    Colour background;
  };

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK ForwardingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                         UINT_PTR id, DWORD_PTR frame);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);

  void CreateControls();
  HWND CreateControl(const main_frm_layout::Control& row, int id);
  void SetPortSelectorHeight();
  void Restack();
  int Label2Room() const;
  void PaintCondensed(HWND label);
  LRESULT ControlColour(HDC dc, HWND control);
  HBRUSH BrushOf(Colour colour);
  void Command(int id, int code);

  HWND window_ = nullptr;
  DesignFonts fonts_;
  std::map<std::string_view, HWND, std::less<>> controls_;
  std::map<HWND, Colours> colours_;
  std::map<std::uint32_t, HBRUSH> brushes_;
};

}  // namespace stbup
