#pragma once

#include <QColor>

#include "app/core/main_frm_layout.h"
#include "seams/colour.h"

namespace stbup {

// The platform colours the window's design names, as every front end shows them.
namespace system_colours = main_frm_layout::system_colours;

inline QColor ToQColor(Colour colour) { return QColor(colour.r, colour.g, colour.b); }

inline Colour FromQColor(const QColor& colour) {
  return Colour{static_cast<std::uint8_t>(colour.red()), static_cast<std::uint8_t>(colour.green()),
                static_cast<std::uint8_t>(colour.blue())};
}

}  // namespace stbup
