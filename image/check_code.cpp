#include "image/check_code.h"

namespace stbup {

std::string BuildImageCheckCode() {
  std::string code = "7305";
  for (const char* piece : {"2", "9", "4", "8"}) code += piece;
  return code;
}

}  // namespace stbup
