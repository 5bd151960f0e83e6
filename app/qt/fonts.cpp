#include "app/qt/fonts.h"

#include <QStringList>

namespace stbup {

namespace {

QString FromView(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

template <std::size_t N>
QStringList FamiliesOf(const std::array<std::string_view, N>& families) {
  QStringList list;
  for (std::string_view family : families) list << FromView(family);
  return list;
}

}  // namespace

void InstallFontSubstitutes() {
  using namespace main_frm_layout;
  const QStringList sans = FamiliesOf(kSansSubstitutes);
  QFont::insertSubstitutions(FromView(kDefaultFont.family), sans);
  QFont::insertSubstitutions(FromView(kLabel3Font.family), sans);
  QFont::insertSubstitutions(FromView(kLogoFont.family), FamiliesOf(kSerifSubstitutes));
  QFont::insertSubstitutions(FromView(kMemoFont.family), FamiliesOf(kVerdanaSubstitutes));
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

QFont DesignFont(const main_frm_layout::Font& font) {
  return DesignFont(FromView(font.family), font.pixels, font.bold, font.italic);
}

}  // namespace stbup
