#include "app/win32/main_frm.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "app/win32/panel.h"
#include "app/win32/text.h"

namespace stbup {

namespace {

using main_frm_layout::Kind;

constexpr wchar_t kWindowClass[] = L"TMainFrm";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kPortCount = 10;
// How far cbPort's list drops below its field.
constexpr int kPortListHeight = 200;

HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }

std::uint32_t Key(Colour colour) {
  return (static_cast<std::uint32_t>(colour.r) << 16) |
         (static_cast<std::uint32_t>(colour.g) << 8) | colour.b;
}

void RegisterWindowClass() {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (::GetClassInfoExW(Instance(), kWindowClass, &existing)) return;
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = DefWindowProcW;  // replaced by the instance's at creation
  window_class.hInstance = Instance();
  window_class.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  // The resource's icon: the window shows the application's, as the design has it.
  window_class.hIcon = ::LoadIconW(Instance(), MAKEINTRESOURCEW(1));
  window_class.hIconSm = window_class.hIcon;
  window_class.lpszClassName = kWindowClass;
  ::RegisterClassExW(&window_class);
}

}  // namespace

TMainFrm::TMainFrm() {
  INITCOMMONCONTROLSEX common{sizeof common, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS |
                                                 ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&common);
  RegisterWindowClass();
  Panel::Register(Instance());

  // The design gives the client area; the frame is what this style adds to it.
  RECT frame{0, 0, main_frm_layout::kClientWidth, main_frm_layout::kClientHeight};
  ::AdjustWindowRectEx(&frame, kWindowStyle, FALSE, 0);
  window_ = ::CreateWindowExW(0, kWindowClass, L"", kWindowStyle, main_frm_layout::kLeft,
                              main_frm_layout::kTop, frame.right - frame.left,
                              frame.bottom - frame.top, nullptr, nullptr, Instance(), nullptr);
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TMainFrm::WindowProc));
  colours_[window_] = {colours::kWindowText, main_frm_layout::system_colours::kButtonFace};
  CreateControls();
}

TMainFrm::~TMainFrm() {
  if (::IsWindow(window_)) {
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
  }
  for (const auto& [key, brush] : brushes_) ::DeleteObject(brush);
}

HWND TMainFrm::Control(std::string_view name) const {
  auto found = controls_.find(name);
  return found == controls_.end() ? nullptr : found->second;
}

std::string_view TMainFrm::NameOf(HWND control) const {
  if (control == window_) return main_frm_layout::kWindowName;
  for (const auto& [name, handle] : controls_) {
    if (handle == control) return name;
  }
  return {};
}

HWND TMainFrm::CreateControl(const main_frm_layout::Control& row, int id) {
  HWND parent = row.parent == main_frm_layout::kWindowName ? window_ : Control(row.parent);
  const bool top_level = parent == window_;
  // Siblings of the window overlap (Panel4 over Panel1): each paints only
  // what the ones above it leave visible.
  DWORD style = WS_CHILD | WS_VISIBLE | (top_level ? WS_CLIPSIBLINGS : 0);
  DWORD extended = 0;
  const wchar_t* window_class = L"Static";
  int height = row.place.height;
  switch (row.kind) {
    case Kind::kToolBar:
      window_class = TOOLBARCLASSNAMEW;
      style |= CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER | TBSTYLE_FLAT | WS_CLIPCHILDREN;
      extended = WS_EX_CONTROLPARENT;
      break;
    case Kind::kButton:
      window_class = L"Button";
      style |= BS_PUSHBUTTON | WS_TABSTOP;
      break;
    case Kind::kComboBox:
      window_class = L"ComboBox";
      style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
      height += kPortListHeight;
      break;
    case Kind::kPanel:
      window_class = Panel::ClassName();
      style |= WS_CLIPCHILDREN;
      extended = WS_EX_CONTROLPARENT;
      break;
    case Kind::kLabel:
      style |= SS_LEFT | SS_NOPREFIX;
      break;
    case Kind::kEdit:
      window_class = L"Edit";
      style |= ES_AUTOHSCROLL | ES_LEFT | WS_TABSTOP;
      extended = WS_EX_CLIENTEDGE;
      break;
    case Kind::kProgressBar:
      window_class = PROGRESS_CLASSW;
      style |= PBS_SMOOTH;
      break;
    case Kind::kMemo:
      window_class = L"Edit";
      style |= ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL |
               WS_HSCROLL | WS_TABSTOP;
      extended = WS_EX_CLIENTEDGE;
      break;
    case Kind::kStatusBar:
      window_class = STATUSCLASSNAMEW;
      style |= CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER;
      break;
  }
  const std::wstring caption = row.kind == Kind::kComboBox ? L"" : WideFromBytes(row.caption);
  HWND control =
      ::CreateWindowExW(extended, window_class, caption.c_str(), style, row.place.left,
                        row.place.top, row.place.width, height, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.Default()), FALSE);
  return control;
}

void TMainFrm::CreateControls() {
  using namespace main_frm_layout;
  int id = kFirstControlId;
  for (const main_frm_layout::Control& row : kControls) {
    HWND control = CreateControl(row, id++);
    controls_.emplace(row.name, control);
    const Colour parent_colour = row.parent == kWindowName ? system_colours::kButtonFace
                                                           : BackgroundColour(Control(row.parent));
    switch (row.kind) {
      case Kind::kPanel: {
        const Colour colour =
            row.name == "Panel3" ? system_colours::kButtonFace : system_colours::kMenu;
        Panel::SetColour(control, colour);
        colours_[control] = {colours::kWindowText, colour};
        break;
      }
      case Kind::kLabel:
        colours_[control] = {colours::kWindowText, parent_colour};
        SetLabelCaption(control, WideFromBytes(row.caption));
        break;
      case Kind::kEdit:
        colours_[control] = {colours::kWindowText, system_colours::kInactiveBorder};
        break;
      case Kind::kMemo:
        colours_[control] = {colours::kWindowText, system_colours::kWindow};
        break;
      case Kind::kToolBar:
        // Its controls report to the window, as the panels' controls do.
        ::SetWindowSubclass(control, &TMainFrm::ForwardingProc, 1,
                            reinterpret_cast<DWORD_PTR>(this));
        break;
      case Kind::kProgressBar:
        ::SendMessageW(control, PBM_SETRANGE32, 0, 100);
        ::SendMessageW(control, PBM_SETPOS, 0, 0);
        break;
      default:
        break;
    }
  }

  Panel3 = Control("Panel3");
  lblLogoName = Control("lblLogoName");
  Label2 = Control("Label2");
  Label3 = Control("Label3");
  StatusBar1 = Control("StatusBar1");
  Panel1 = Control("Panel1");
  lableDownLoad = Control("lableDownLoad");
  pb1 = Control("pb1");
  lableFlashWrite = Control("lableFlashWrite");
  pb2 = Control("pb2");
  labelFileSize = Control("labelFileSize");
  Panel2 = Control("Panel2");
  Label1 = Control("Label1");
  Memo2 = Control("Memo2");
  ToolBar1 = Control("ToolBar1");
  bbFileOpen = Control("bbFileOpen");
  cbPort = Control("cbPort");
  bbConnect = Control("bbConnect");
  bbExit = Control("bbExit");
  Panel4 = Control("Panel4");
  lableFileName = Control("lableFileName");
  edFileName = Control("edFileName");
  lableHardVer = Control("lableHardVer");
  edHV = Control("edHV");
  lableFileType = Control("lableFileType");
  edType = Control("edType");
  lableModel = Control("lableModel");
  edModelName = Control("edModelName");
  lableSoftVer = Control("lableSoftVer");
  edSV = Control("edSV");
  lableStartBlock = Control("lableStartBlock");
  edStartBlock = Control("edStartBlock");

  // The banner: centred both ways, its own font, text on grey; hidden until
  // the start-up shows it.
  ::ShowWindow(lblLogoName, SW_HIDE);
  ::SetWindowLongPtrW(lblLogoName, GWL_STYLE, WS_CHILD | SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX);
  ::SendMessageW(lblLogoName, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.Logo()), FALSE);
  SetColours(lblLogoName, main_frm_layout::kLogoText, main_frm_layout::kLogoBackground);

  // Label2 draws itself, condensed where its face is wider than the design's.
  ::SetWindowSubclass(Label2, &TMainFrm::ForwardingProc, 3, reinterpret_cast<DWORD_PTR>(this));
  SetLabelCaption(Label2, WideFromBytes(main_frm_layout::Find("Label2").caption));
  ::SendMessageW(Label3, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.Label3()), FALSE);
  SetLabelCaption(Label3, WideFromBytes(main_frm_layout::Find("Label3").caption));

  ::SendMessageW(Memo2, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.Memo()), FALSE);
  // The log is capped by lines, not by the edit's default 32 K characters.
  ::SendMessageW(Memo2, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
  ::SetWindowSubclass(Memo2, &TMainFrm::ForwardingProc, 2, reinterpret_cast<DWORD_PTR>(this));

  for (int n = 1; n <= kPortCount; ++n) {
    const std::wstring item = L"COM" + std::to_wstring(n);
    ::SendMessageW(cbPort, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  }
  ::SendMessageW(cbPort, CB_SETCURSEL, 0, 0);
  SetPortSelectorHeight();

  Restack();
}

void TMainFrm::SetPortSelectorHeight() {
  // A drop-down list's height is its field's; the field follows the item
  // height of the selection, so that is set until the field is as designed.
  const int wanted = main_frm_layout::Find("cbPort").place.height;
  for (int attempt = 0; attempt < 3; ++attempt) {
    RECT field;
    ::GetWindowRect(cbPort, &field);
    const int now = field.bottom - field.top;
    if (now == wanted) return;
    const LRESULT item = ::SendMessageW(cbPort, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    if (item == CB_ERR || item + (wanted - now) <= 0) return;
    ::SendMessageW(cbPort, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), item + (wanted - now));
  }
}

void TMainFrm::Restack() {
  // Bottom to top: each one raised above all before it.
  for (std::string_view name : main_frm_layout::kStackingOrder) {
    ::SetWindowPos(Control(name), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
}

SIZE TMainFrm::CaptionSize(HWND label, std::wstring_view caption) const {
  HDC dc = ::GetDC(label);
  auto* font = reinterpret_cast<HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0));
  HGDIOBJ previous = ::SelectObject(dc, font ? font : fonts_.Default());
  SIZE size{0, 0};
  ::GetTextExtentPoint32W(dc, caption.data(), static_cast<int>(caption.size()), &size);
  TEXTMETRICW metrics;
  ::GetTextMetricsW(dc, &metrics);
  size.cy = metrics.tmHeight;
  ::SelectObject(dc, previous);
  ::ReleaseDC(label, dc);
  if (label == Label2 && Label2 != nullptr) size.cx = std::min<LONG>(size.cx, Label2Room());
  return size;
}

int TMainFrm::Label2Room() const {
  // The design leaves Label2's caption 48 pixels before Label3; it ends one
  // pixel short of Label3's text.
  return main_frm_layout::Find("Label3").place.left - main_frm_layout::Find("Label2").place.left -
         1;
}

void TMainFrm::PaintCondensed(HWND label) {
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(label, &paint);
  RECT area;
  ::GetClientRect(label, &area);
  ::FillRect(dc, &area, BrushOf(BackgroundColour(label)));
  const int length = ::GetWindowTextLengthW(label);
  std::wstring caption(static_cast<std::size_t>(length) + 1, L'\0');
  caption.resize(static_cast<std::size_t>(::GetWindowTextW(label, caption.data(), length + 1)));
  auto* font = reinterpret_cast<HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0));
  HGDIOBJ previous = ::SelectObject(dc, font ? font : fonts_.Default());
  const int count = static_cast<int>(caption.size());
  std::vector<int> ends(caption.size());
  SIZE natural{0, 0};
  ::GetTextExtentExPointW(dc, caption.c_str(), count, 0, nullptr, ends.data(), &natural);
  // Each character's advance, scaled so that the caption fits its room:
  // condensed evenly, as a face set a little tighter would be.
  const int room = area.right - area.left;
  std::vector<int> advances(caption.size());
  int previous_end = 0;
  for (int i = 0; i < count; ++i) {
    const int end = natural.cx > room ? ends[static_cast<std::size_t>(i)] * room / natural.cx
                                      : ends[static_cast<std::size_t>(i)];
    advances[static_cast<std::size_t>(i)] = end - previous_end;
    previous_end = end;
  }
  ::SetTextColor(dc, ToColorRef(TextColour(label)));
  ::SetBkMode(dc, TRANSPARENT);
  ::ExtTextOutW(dc, 0, 0, 0, nullptr, caption.c_str(), static_cast<UINT>(count), advances.data());
  ::SelectObject(dc, previous);
  ::EndPaint(label, &paint);
}

void TMainFrm::SetLabelCaption(HWND label, std::wstring_view caption) {
  const std::wstring text(caption);
  ::SetWindowTextW(label, text.c_str());
  const main_frm_layout::Control* row = nullptr;
  for (const main_frm_layout::Control& candidate : main_frm_layout::kControls) {
    if (Control(candidate.name) == label) row = &candidate;
  }
  if (row == nullptr) return;
  const SIZE size = CaptionSize(label, caption);
  const int width = row->place.width > 0 ? row->place.width : size.cx;
  const int height = row->place.height > 0 ? row->place.height : size.cy;
  ::SetWindowPos(label, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::InvalidateRect(label, nullptr, TRUE);
}

void TMainFrm::SetColours(HWND control, Colour text, Colour background) {
  colours_[control] = {text, background};
  ::InvalidateRect(control, nullptr, TRUE);
}

Colour TMainFrm::TextColour(HWND control) const {
  auto found = colours_.find(control);
  return found == colours_.end() ? colours::kWindowText : found->second.text;
}

Colour TMainFrm::BackgroundColour(HWND control) const {
  auto found = colours_.find(control);
  return found == colours_.end() ? main_frm_layout::system_colours::kButtonFace
                                 : found->second.background;
}

HBRUSH TMainFrm::BrushOf(Colour colour) {
  auto [found, added] = brushes_.try_emplace(Key(colour), nullptr);
  if (added) found->second = ::CreateSolidBrush(ToColorRef(colour));
  return found->second;
}

LRESULT TMainFrm::ControlColour(HDC dc, HWND control) {
  const Colour text = TextColour(control);
  const Colour background = BackgroundColour(control);
  ::SetTextColor(dc, ToColorRef(text));
  ::SetBkColor(dc, ToColorRef(background));
  return reinterpret_cast<LRESULT>(BrushOf(background));
}

void TMainFrm::EnableControl(HWND control, bool enabled) {
  if (!enabled && ::GetFocus() == control) {
    // Left to itself, the focus would move on to the next control, an edit,
    // where Enter no longer reaches the window and a key overwrites the path.
    ::SetFocus(window_);
  }
  ::EnableWindow(control, enabled ? TRUE : FALSE);
}

void TMainFrm::Command(int id, int code) {
  HWND control = nullptr;
  const int row = id - kFirstControlId;
  if (row >= 0 && row < static_cast<int>(main_frm_layout::kControls.size())) {
    control = Control(main_frm_layout::kControls[static_cast<std::size_t>(row)].name);
  }
  if (control == nullptr) return;
  if (code == BN_CLICKED) {
    if (control == bbFileOpen && OnFileOpen) OnFileOpen();
    if (control == bbConnect && OnConnect) OnConnect();
    if (control == bbExit && OnExit) OnExit();
  } else if (control == cbPort && code == CBN_DROPDOWN) {
    if (OnPortListOpening) OnPortListOpening();
  } else if (control == cbPort && code == CBN_SELENDOK) {
    // The operator's choice only (also of the item already shown); a
    // selection made by the program raises nothing.
    const LRESULT index = ::SendMessageW(cbPort, CB_GETCURSEL, 0, 0);
    if (OnPortChosen) OnPortChosen(index == CB_ERR ? -1 : static_cast<int>(index));
  }
}

bool TMainFrm::PreTranslateMessage(const MSG& message) {
  if (message.hwnd != window_ && !::IsChild(window_, message.hwnd)) return false;
  // With cbPort's list dropped, Enter picks the item under the cursor: the
  // list's own, or the operator could not choose a port by the keyboard.
  const bool picking = message.hwnd == cbPort && ::SendMessageW(cbPort, CB_GETDROPPEDSTATE, 0, 0);
  if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN && !picking) {
    // Enter reconnects wherever the focus is in the window: an edit or a
    // button that happens to hold it after a run must not swallow it. Taken
    // here, it is never translated into a character for the control.
    if (OnKeyPress) OnKeyPress('\r');
    return true;
  }
  // Tab and the arrows move between the controls as in a dialog.
  return ::IsDialogMessageW(window_, const_cast<MSG*>(&message)) != FALSE;
}

LRESULT CALLBACK TMainFrm::ForwardingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                          UINT_PTR id, DWORD_PTR frame) {
  auto* self = reinterpret_cast<TMainFrm*>(frame);
  if (id == 1) {
    // ToolBar1: its controls' reports go to the window.
    switch (message) {
      case WM_COMMAND:
      case WM_CTLCOLORSTATIC:
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORBTN:
      case WM_CTLCOLORLISTBOX:
        return ::SendMessageW(self->window_, message, wparam, lparam);
      default:
        break;
    }
  } else if (id == 3 && message == WM_PAINT) {
    self->PaintCondensed(window);
    return 0;
  } else if (id == 2 && message == WM_CHAR) {
    // Memo2's keys are the window's too (Enter is taken before dispatch).
    if (self->OnKeyPress && wparam <= 0xFF) self->OnKeyPress(static_cast<char>(wparam));
  }
  return ::DefSubclassProc(window, message, wparam, lparam);
}

LRESULT CALLBACK TMainFrm::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<TMainFrm*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
  return self->Handle(message, wparam, lparam);
}

LRESULT TMainFrm::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (lparam != 0) Command(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
      return ControlColour(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_ERASEBKGND: {
      RECT area;
      ::GetClientRect(window_, &area);
      ::FillRect(reinterpret_cast<HDC>(wparam), &area,
                 BrushOf(main_frm_layout::system_colours::kButtonFace));
      return 1;
    }
    case WM_TIMER:
      if (wparam == kTimer1Id && OnTimer1) OnTimer1();
      if (wparam == kMemoTimerId && OnMemoTimer) OnMemoTimer();
      if (wparam == kRecordsTimerId && OnRecordsTimer) OnRecordsTimer();
      return 0;
    case WM_CHAR:
      // Enter is taken before dispatch; other keys of the window itself.
      if (wparam <= 0xFF && OnKeyPress) OnKeyPress(static_cast<char>(wparam));
      return 0;
    case WM_LBUTTONDOWN:
      // A click on the window's face takes the focus from any control, as the
      // design's window does; Enter then goes to the window.
      ::SetFocus(window_);
      return 0;
    case WM_CLOSE:
      if (OnClose && !OnClose()) return 0;
      ::DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      ::KillTimer(window_, kTimer1Id);
      ::KillTimer(window_, kMemoTimerId);
      ::KillTimer(window_, kRecordsTimerId);
      if (OnDestroy) OnDestroy();
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window_, message, wparam, lparam);
}

}  // namespace stbup
