#pragma once

#include "app/win32/windows_api.h"

#include <optional>
#include <string>

namespace stbup {

// The window's modal boxes and its open dialog. The window uses the real ones;
// tests put in boxes that return at once.
class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // A modal box with one OK button.
  virtual void Message(HWND owner, const std::wstring& text) = 0;
  // The framework's box for an error that escaped a handler.
  virtual void Error(HWND owner, const std::wstring& text) = 0;
  // OD1: the chosen file, or nothing when cancelled. filter in
  // GetOpenFileName's form (text.h), default_extension without "*.".
  virtual std::optional<std::wstring> OpenFile(HWND owner, const std::wstring& directory,
                                               const std::wstring& filter,
                                               const std::wstring& default_extension) = 0;
};

// The real boxes: MessageBox with OK, GetOpenFileName. While one is open, its
// own message loop keeps serving the serial link's calls and Timer1.
class ModalDialogs : public Dialogs {
 public:
  void Message(HWND owner, const std::wstring& text) override;
  void Error(HWND owner, const std::wstring& text) override;
  std::optional<std::wstring> OpenFile(HWND owner, const std::wstring& directory,
                                       const std::wstring& filter,
                                       const std::wstring& default_extension) override;

  // The boxes' title.
  static constexpr wchar_t kTitle[] = L"stbup-gui";
};

}  // namespace stbup
