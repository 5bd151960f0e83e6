#pragma once

#include <cstdint>
#include <string>

namespace stbup {

// A colour as the window shows it; traces and tests compare the "#RRGGBB" form.
struct Colour {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;

  friend bool operator==(const Colour&, const Colour&) = default;

  std::string Hex() const;  // "#RRGGBB", upper case
};

namespace colours {
inline constexpr Colour kBlack{0, 0, 0};
inline constexpr Colour kWhite{255, 255, 255};
inline constexpr Colour kRed{255, 0, 0};
inline constexpr Colour kBlue{0, 0, 255};
inline constexpr Colour kAqua{0, 255, 255};
inline constexpr Colour kGrey{128, 128, 128};
// The framework's button-highlight colour: the banner's text on grey.
inline constexpr Colour kButtonHighlight{255, 255, 255};
// The memo's text colour before a load failure turns it red.
inline constexpr Colour kWindowText{0, 0, 0};
}  // namespace colours

}  // namespace stbup
