#pragma once

#include <QColor>

#include "seams/colour.h"

namespace stbup {

// The platform colours the window's design names, at their usual values.
namespace system_colours {
inline constexpr Colour kButtonFace{240, 240, 240};      // the window's face
inline constexpr Colour kMenu{240, 240, 240};            // Panel1, Panel2, Panel4
inline constexpr Colour kInactiveBorder{244, 247, 252};  // the edits of Panel4
inline constexpr Colour kWindow{255, 255, 255};          // Memo2's background
}  // namespace system_colours

inline QColor ToQColor(Colour colour) { return QColor(colour.r, colour.g, colour.b); }

inline Colour FromQColor(const QColor& colour) {
  return Colour{static_cast<std::uint8_t>(colour.red()), static_cast<std::uint8_t>(colour.green()),
                static_cast<std::uint8_t>(colour.blue())};
}

}  // namespace stbup
