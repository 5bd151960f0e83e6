#include "seams/colour.h"

#include <cstdio>

namespace stbup {

std::string Colour::Hex() const {
  char text[8];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", r, g, b);
  return text;
}

}  // namespace stbup
