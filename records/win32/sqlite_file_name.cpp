#include "records/sqlite_file_name.h"

#include <windows.h>

namespace stbup {

namespace {

std::wstring WideFromAnsi(const std::string& text) {
  const int size =
      ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string Utf8FromWide(const std::wstring& wide) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                        nullptr, nullptr);
  return text;
}

}  // namespace

std::string SqliteFileName(const std::string& path) {
  if (path.empty()) return path;
  return Utf8FromWide(WideFromAnsi(path));
}

}  // namespace stbup
