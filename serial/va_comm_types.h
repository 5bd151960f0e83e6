#pragma once

#include <cstdint>
#include <initializer_list>

namespace stbup {

// The line settings and events of the port, in the order the component
// publishes them; the comments give the value each stands for.

enum class TVaBaudrate : std::uint8_t {
  brUser,  // UserBaudrate
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000,
};

enum class TVaParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum class TVaDatabits : std::uint8_t { db4, db5, db6, db7, db8 };
enum class TVaStopbits : std::uint8_t { sb1, sb15, sb2 };
enum class TVaControlDtr : std::uint8_t { dtrDisabled, dtrEnabled, dtrHandshake };
enum class TVaControlRts : std::uint8_t { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };

enum class TVaCommOption : std::uint8_t { coErrorChar, coNullStrip, coParityCheck };

enum class TThreadPriority : std::uint8_t {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical,
};

enum class TVaCommEvent : std::uint8_t {
  ceBreak,
  ceCts,
  ceDsr,
  ceError,
  ceRing,
  ceRlsd,
  ceRxChar,
  ceTxEmpty,
  ceRxFlag,
  cePErr,
  ceRx80Full,
  ceEvent1,
  ceEvent2,
};

// A small set over one of the enumerations above (MonitorEvents is 16 bits
// wide, Options 8).
template <typename E, typename Bits>
class TVaSet {
 public:
  constexpr TVaSet() = default;
  constexpr TVaSet(std::initializer_list<E> members) {
    for (const E m : members) bits_ = static_cast<Bits>(bits_ | Bit(m));
  }
  constexpr bool Contains(E m) const { return (bits_ & Bit(m)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TVaSet& Include(E m) {
    bits_ = static_cast<Bits>(bits_ | Bit(m));
    return *this;
  }
  constexpr TVaSet& Exclude(E m) {
    bits_ = static_cast<Bits>(bits_ & ~Bit(m));
    return *this;
  }
  constexpr Bits Raw() const { return bits_; }
  friend constexpr bool operator==(TVaSet, TVaSet) = default;

 private:
  static constexpr Bits Bit(E m) { return static_cast<Bits>(1u << static_cast<unsigned>(m)); }
  Bits bits_ = 0;
};

using TVaCommEvents = TVaSet<TVaCommEvent, std::uint16_t>;
using TVaCommOptions = TVaSet<TVaCommOption, std::uint8_t>;

// Event bits of EventMask and of a reported batch.
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RLSD = 0x0020;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;
inline constexpr std::uint32_t EV_PERR = 0x0200;
inline constexpr std::uint32_t EV_RX80FULL = 0x0400;
inline constexpr std::uint32_t EV_EVENT1 = 0x0800;
inline constexpr std::uint32_t EV_EVENT2 = 0x1000;

// The event bit of each TVaCommEvent, in ordinal order.
inline constexpr std::uint32_t kEventBits[] = {
    EV_BREAK,   EV_CTS,    EV_DSR,  EV_ERR,      EV_RING,   EV_RLSD,   EV_RXCHAR,
    EV_TXEMPTY, EV_RXFLAG, EV_PERR, EV_RX80FULL, EV_EVENT1, EV_EVENT2,
};

// Line-error bits that the status query reports (OnError's Errors).
inline constexpr std::uint32_t CE_RXOVER = 0x0001;   // input queue overflow
inline constexpr std::uint32_t CE_OVERRUN = 0x0002;  // character lost by the hardware
inline constexpr std::uint32_t CE_RXPARITY = 0x0004;
inline constexpr std::uint32_t CE_FRAME = 0x0008;
inline constexpr std::uint32_t CE_BREAK = 0x0010;

// The bits per second a rate stands for; 0 for brUser.
int BaudrateValue(TVaBaudrate rate);
// The nice value a thread priority maps to (negative is more urgent).
int ThreadNiceValue(TThreadPriority priority);

}  // namespace stbup
