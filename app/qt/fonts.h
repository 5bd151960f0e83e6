#pragma once

#include <QFont>
#include <QString>

namespace stbup {

// The families the window's design names are rarely installed here; each is
// mapped once to the closest metric-compatible family that is.
void InstallFontSubstitutes();

// Pixel sizes stand for the design's point sizes at 96 dots per inch, so the
// fixed positions of the layout keep fitting whatever the screen reports.
QFont DesignFont(const QString& family, int pixel_size, bool bold = false, bool italic = false);

namespace design_fonts {
inline constexpr int kDefaultPixels = 11;  // MS Sans Serif 8 point
inline constexpr int kLabel3Pixels = 13;   // Microsoft Sans Serif 10 point bold
inline constexpr int kLogoPixels = 53;     // Times New Roman 40 point bold italic
inline constexpr int kMemoPixels = 11;     // Verdana 8 point
}  // namespace design_fonts

}  // namespace stbup
