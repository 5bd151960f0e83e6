#include "serial/reply_watch.h"

#include <algorithm>

namespace stbup {

void ReplyWatch::Follow(std::optional<Clock::time_point> last_write) {
  if (last_write == followed_) return;
  followed_ = last_write;
  arrival_ = 0;
}

std::optional<ReplyWatch::Window> ReplyWatch::Next(std::optional<Clock::time_point> last_write) {
  Follow(last_write);
  if (!followed_ || arrival_ >= kArrivals) return std::nullopt;
  const Arrival& arrival = arrivals_[arrival_];
  // One answer is no pace yet; half the memory of them is.
  if (arrival.count < kRemembered / 2) return std::nullopt;
  const std::size_t n = std::min(arrival.count, kRemembered);
  std::array<Clock::duration, kRemembered> sorted = arrival.after;
  std::nth_element(sorted.begin(), sorted.begin() + n / 2, sorted.begin() + n);
  const Clock::duration median = sorted[n / 2];
  if (median < kShortest || median > kLongest) return std::nullopt;
  return Window{*followed_ + median - kLead, *followed_ + median + kTail};
}

void ReplyWatch::Arrived(std::optional<Clock::time_point> last_write, Clock::time_point at) {
  Follow(last_write);
  if (!followed_ || arrival_ >= kArrivals) return;
  Arrival& arrival = arrivals_[arrival_++];
  arrival.after[arrival.count % kRemembered] = at - *followed_;
  ++arrival.count;
}

}  // namespace stbup
