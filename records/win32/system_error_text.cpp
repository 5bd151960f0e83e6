#include "records/win32/system_error_text.h"

namespace stbup {

std::string SystemErrorText(DWORD code) {
  char text[512] = {};
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  std::string said(text, length);
  while (!said.empty() &&
         (said.back() == '\n' || said.back() == '\r' || said.back() == ' ' || said.back() == '.')) {
    said.pop_back();
  }
  if (said.empty()) said = "system error " + std::to_string(code);
  return said;
}

}  // namespace stbup
