#pragma once

#include <QFont>
#include <QString>

#include "app/core/main_frm_layout.h"

namespace stbup {

// The families the window's design names are rarely installed here; each is
// mapped once to the closest metric-compatible family that is.
void InstallFontSubstitutes();

// Pixel sizes stand for the design's point sizes at 96 dots per inch, so the
// fixed positions of the layout keep fitting whatever the screen reports.
QFont DesignFont(const QString& family, int pixel_size, bool bold = false, bool italic = false);

// One of the design's fonts (main_frm_layout) as a QFont.
QFont DesignFont(const main_frm_layout::Font& font);

}  // namespace stbup
