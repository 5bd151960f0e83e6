#include "app/win32/dialogs.h"

#include <commdlg.h>

namespace stbup {

void ModalDialogs::Message(HWND owner, const std::wstring& text) {
  ::MessageBoxW(owner, text.c_str(), kTitle, MB_OK | MB_APPLMODAL);
}

void ModalDialogs::Error(HWND owner, const std::wstring& text) {
  ::MessageBoxW(owner, text.c_str(), kTitle, MB_OK | MB_ICONERROR | MB_APPLMODAL);
}

std::optional<std::wstring> ModalDialogs::OpenFile(HWND owner, const std::wstring& directory,
                                                   const std::wstring& filter,
                                                   const std::wstring& default_extension) {
  wchar_t chosen[MAX_PATH * 4] = {};
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = chosen;
  dialog.nMaxFile = static_cast<DWORD>(std::size(chosen));
  dialog.lpstrInitialDir = directory.empty() ? nullptr : directory.c_str();
  dialog.lpstrDefExt = default_extension.empty() ? nullptr : default_extension.c_str();
  // The window logic decides about the current directory, not the dialog.
  dialog.Flags =
      OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!::GetOpenFileNameW(&dialog)) return std::nullopt;
  return std::wstring(chosen);
}

}  // namespace stbup
