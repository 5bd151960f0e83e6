#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

namespace stbup {

// A paced line answers each write with its lines at steady times: a box asks
// for the next block a block's line time after the tool sent the last one,
// and says its verdict a request's line time before that. A thread asleep
// until then is woken late when its CPU has idled meanwhile (on a virtual
// machine by milliseconds, on any machine by the CPU's sleep), and every late
// wake-up lengthens the upgrade. So the event thread learns when each line
// after a write comes and watches the line around that moment instead of
// sleeping through it.
class ReplyWatch {
 public:
  using Clock = std::chrono::steady_clock;

  struct Window {
    Clock::time_point from;
    Clock::time_point until;
  };

  // Answers sooner than this after a write are left to the sleeping wait: a
  // fast line needs no watching, and its wake-ups are no later than a watch.
  static constexpr auto kShortest = std::chrono::milliseconds(2);
  // Answers later than this are not paced ones (an operator, a box's flash).
  static constexpr auto kLongest = std::chrono::seconds(2);
  // The watch begins this much before the learnt moment and ends this much
  // after it: a box's own timing wanders by some hundred microseconds.
  static constexpr auto kLead = std::chrono::microseconds(500);
  static constexpr auto kTail = std::chrono::microseconds(2000);
  // While watching, the line is looked at this often, with short sleeps in
  // between: a CPU that sleeps that briefly wakes at once, and one that never
  // sleeps would hold back the box or the kernel's carrying of its bytes
  // where they share it.
  static constexpr auto kLookEvery = std::chrono::microseconds(20);
  // Arrivals after one write that are learnt (a verdict, then a request).
  static constexpr std::size_t kArrivals = 4;
  // Times remembered for each of them; the moment is their median.
  static constexpr std::size_t kRemembered = 8;

  // Where the next wait for input should watch the line, if anywhere;
  // last_write is when the tool last wrote (nothing written yet: none).
  std::optional<Window> Next(std::optional<Clock::time_point> last_write);
  // Input was seen at `at`.
  void Arrived(std::optional<Clock::time_point> last_write, Clock::time_point at);

 private:
  struct Arrival {
    std::array<Clock::duration, kRemembered> after{};
    std::size_t count = 0;  // answers ever learnt
  };
  // Starts counting arrivals afresh when the tool has written since.
  void Follow(std::optional<Clock::time_point> last_write);

  std::array<Arrival, kArrivals> arrivals_{};
  std::optional<Clock::time_point> followed_;  // the write the arrivals are counted from
  std::size_t arrival_ = 0;                    // arrivals seen since that write
};

}  // namespace stbup
