#include "app/qt/fonts.h"

#include <QStringList>

namespace stbup {

void InstallFontSubstitutes() {
  const QStringList sans{"Liberation Sans", "Arimo", "Nimbus Sans", "DejaVu Sans"};
  QFont::insertSubstitutions("MS Sans Serif", sans);
  QFont::insertSubstitutions("Microsoft Sans Serif", sans);
  QFont::insertSubstitutions("Times New Roman",
                             {"Liberation Serif", "Tinos", "Nimbus Roman", "DejaVu Serif"});
  QFont::insertSubstitutions("Verdana", {"DejaVu Sans", "Bitstream Vera Sans", "Liberation Sans"});
}

QFont DesignFont(const QString& family, int pixel_size, bool bold, bool italic) {
  QFont font(family);
  font.setPixelSize(pixel_size);
  font.setBold(bold);
  font.setItalic(italic);
  // Never let the platform pick an unrelated face when the family is missing.
  font.setStyleHint(family.contains("Times") ? QFont::Serif : QFont::SansSerif);
  return font;
}

}  // namespace stbup
