#include "app/win32/text.h"

#include "app/win32/windows_api.h"

namespace stbup {

std::wstring WideFromBytes(std::string_view bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  for (char byte : bytes) {
    // A NUL would end the control's text early; it shows as a blank instead.
    const auto value = static_cast<unsigned char>(byte);
    text += value == 0 ? L' ' : static_cast<wchar_t>(value);
  }
  return text;
}

std::string BytesFromWide(std::wstring_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (wchar_t character : text) {
    bytes += character <= 0xFF ? static_cast<char>(character) : '?';
  }
  return bytes;
}

std::wstring WideFromPath(std::string_view path) {
  if (path.empty()) return {};
  const int size = static_cast<int>(path.size());
  const int length = ::MultiByteToWideChar(CP_ACP, 0, path.data(), size, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, path.data(), size, text.data(), length);
  return text;
}

std::string PathFromWide(std::wstring_view path) {
  if (path.empty()) return {};
  const int size = static_cast<int>(path.size());
  const int length =
      ::WideCharToMultiByte(CP_ACP, 0, path.data(), size, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, path.data(), size, bytes.data(), length, nullptr, nullptr);
  return bytes;
}

std::wstring Win32FileFilter(std::string_view filter) {
  std::wstring parts = WideFromBytes(filter);
  for (wchar_t& character : parts) {
    if (character == L'|') character = L'\0';
  }
  if (!parts.empty()) parts += L'\0';
  parts += L'\0';
  return parts;
}

std::wstring Win32DefaultExtension(std::string_view extension) {
  while (!extension.empty() && (extension.front() == '*' || extension.front() == '.')) {
    extension.remove_prefix(1);
  }
  return WideFromBytes(extension);
}

std::string ErrorBoxText(std::string_view text) {
  std::string shown(text);
  if (!shown.empty() && static_cast<unsigned char>(shown.back()) > '.') shown += '.';
  return shown;
}

}  // namespace stbup
