#pragma once

#include <functional>
#include <string_view>

#include "image/image_info.h"
#include "protocol/exchange_state.h"
#include "seams/link.h"
#include "seams/poll_timer.h"
#include "seams/view.h"

namespace stbup {

// What the engine asks of the window beyond the View: the connection reset
// that "NO_ACKNOWLEDGE with PC." runs before the port is closed.
class ConnectionControl {
 public:
  virtual ~ConnectionControl() = default;
  virtual void ResetConnection() = 0;
};

// Milestones of a run that front ends act on (exit statuses, summaries).
enum class RunEvent {
  kAccepted,        // the identification passed the checks ("ack" answered, unless check-only)
  kRefused,         // "Upgrade Fail"
  kUpgradeSuccess,  // "UPGRADE_SUCCESS"
  kNormalStart,     // "NO_ACKNOWLEDGE with PC."
};

// The upgrade engine: received bytes in, replies out through the Link,
// everything shown through the View. No thread, no descriptor, no toolkit.
class Engine {
 public:
  Engine(ImageInfo& image, View& view, Link& link, PollTimer& timer, ConnectionControl& window);

  // VaComm1RxChar: the window hands over what ReadText() returned.
  void Receive(std::string_view chunk);
  // Timer1Timer: the poll byte 0x1F.
  void Timer1Timer();
  // Ends a run: setup controls on, framing and counters cleared.
  void EndRun();
  // ResetConnection's step 2: CollectingFlashInfo, LineText, TotalChecksum, ProgressCounter.
  void ClearExchange();
  // The window going away: close the download source and the upload file.
  void CloseFiles();

  // Called after the engine has shown the milestone.
  void SetRunEventHandler(std::function<void(RunEvent)> handler) { on_run_event_ = std::move(handler); }
  // Check-only: every identification step and check runs and is shown, but an
  // accepted box is not answered "ack", so no data moves.
  void SetCheckOnly(bool check_only) { check_only_ = check_only; }

  ExchangeState& State() { return state_; }
  const ExchangeState& State() const { return state_; }

 private:
  ImageInfo& image_;
  View& view_;
  Link& link_;
  PollTimer& timer_;
  ConnectionControl& window_;
  ExchangeState state_;
  std::function<void(RunEvent)> on_run_event_;
  bool check_only_ = false;
};

}  // namespace stbup
