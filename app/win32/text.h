#pragma once

#include <string>
#include <string_view>

namespace stbup {

// The box's texts are byte strings; the window shows them byte for byte, each
// byte as the character of the same value (Latin-1), as the Qt window and the
// trace do. Read back, characters beyond 0xFF (typed by the operator) become '?'.
std::wstring WideFromBytes(std::string_view bytes);
std::string BytesFromWide(std::wstring_view text);

// Paths are the narrow file API's bytes, in the system's ANSI code page: the
// edit shows a name as the file system has it, and hands back what opens it.
std::wstring WideFromPath(std::string_view path);
std::string PathFromWide(std::wstring_view path);

// An open dialog's filter as the window logic gives it, pairs of description
// and pattern joined by '|' ("*.bin (Binary File)|*.bin"), in the form
// GetOpenFileName takes: each part ended by a NUL, the whole by a second one.
std::wstring Win32FileFilter(std::string_view filter);

// The default extension "*.bin" as GetOpenFileName takes it: "bin".
std::wstring Win32DefaultExtension(std::string_view extension);

// What the framework's error box shows: the text ended by a full stop unless
// it already ends in punctuation.
std::string ErrorBoxText(std::string_view text);

}  // namespace stbup
