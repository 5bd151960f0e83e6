#include "app/win32/frame_controls.h"

#include "app/win32/windows_api.h"

#include <algorithm>

#include "app/win32/dialogs.h"
#include "app/win32/main_frm.h"
#include "app/win32/text.h"

namespace stbup {

void FrameControls::SelectPort(int index) {
  // CB_SETCURSEL raises no CBN_SELENDOK, so cbPortChange stays quiet; -1
  // leaves nothing selected.
  const LRESULT count = ::SendMessageW(frame_.cbPort, CB_GETCOUNT, 0, 0);
  const WPARAM selected =
      index >= 0 && index < count ? static_cast<WPARAM>(index) : static_cast<WPARAM>(-1);
  ::SendMessageW(frame_.cbPort, CB_SETCURSEL, selected, 0);
}

void FrameControls::SetPortChoices(const std::vector<std::string>& labels) {
  HWND selector = frame_.cbPort;
  ::SendMessageW(selector, CB_RESETCONTENT, 0, 0);
  // The list may be wider than the selector: device names are long.
  HDC dc = ::GetDC(selector);
  auto* font = reinterpret_cast<HFONT>(::SendMessageW(selector, WM_GETFONT, 0, 0));
  HGDIOBJ previous = ::SelectObject(dc, font);
  LONG widest = 0;
  for (const std::string& label : labels) {
    // Names as the system has them, as paths are.
    const std::wstring item = WideFromPath(label);
    ::SendMessageW(selector, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    SIZE size{0, 0};
    ::GetTextExtentPoint32W(dc, item.c_str(), static_cast<int>(item.size()), &size);
    widest = std::max(widest, size.cx);
  }
  ::SelectObject(dc, previous);
  ::ReleaseDC(selector, dc);
  RECT field;
  ::GetWindowRect(selector, &field);
  const LONG room = widest + ::GetSystemMetrics(SM_CXVSCROLL) + 8;
  ::SendMessageW(selector, CB_SETDROPPEDWIDTH,
                 static_cast<WPARAM>(std::max(room, field.right - field.left)), 0);
}

void FrameControls::SetCaption(std::string_view caption) {
  ::SetWindowTextW(frame_.Handle(), WideFromBytes(caption).c_str());
}

void FrameControls::SetPosition(int left, int top) {
  ::SetWindowPos(frame_.Handle(), nullptr, left, top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool FrameControls::CloseWindow() {
  // WM_CLOSE runs FormClose; the window is gone afterwards unless it refused.
  ::SendMessageW(frame_.Handle(), WM_CLOSE, 0, 0);
  return !::IsWindow(frame_.Handle());
}

void FrameControls::Terminate() { ::PostQuitMessage(0); }

std::string FrameControls::CurrentDirectory() const {
  const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
  std::wstring directory(length, L'\0');
  const DWORD copied = ::GetCurrentDirectoryW(length, directory.data());
  directory.resize(copied);
  return PathFromWide(directory);
}

bool FrameControls::SetCurrentDirectory(std::string_view directory) {
  return ::SetCurrentDirectoryW(WideFromPath(directory).c_str()) != FALSE;
}

std::optional<std::string> FrameFileDialog::Execute(std::string_view initial_directory,
                                                    std::string_view filter,
                                                    std::string_view default_extension) {
  auto chosen =
      dialogs_.OpenFile(frame_.Handle(), WideFromPath(initial_directory), Win32FileFilter(filter),
                        Win32DefaultExtension(default_extension));
  if (!chosen) return std::nullopt;
  return PathFromWide(*chosen);
}

}  // namespace stbup
