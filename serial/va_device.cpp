// The parts of the device contract that are the same on every platform.
#include "serial/va_device.h"

namespace stbup {

std::uint32_t LineErrorBits(const TVaLineCounters& before, const TVaLineCounters& after) {
  std::uint32_t bits = 0;
  if (after.buf_overrun != before.buf_overrun) bits |= CE_RXOVER;
  if (after.overrun != before.overrun) bits |= CE_OVERRUN;
  if (after.parity != before.parity) bits |= CE_RXPARITY;
  if (after.frame != before.frame) bits |= CE_FRAME;
  if (after.brk != before.brk) bits |= CE_BREAK;
  return bits;
}

}  // namespace stbup
