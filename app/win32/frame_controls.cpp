#include "app/win32/frame_controls.h"

#include "app/win32/windows_api.h"

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
