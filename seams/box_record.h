#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "seams/exit_status.h"

namespace stbup {

// How a box's run ended, as the records keep it. The names are stable: they
// are what the database holds and what `stbup history --verdict` takes. A new
// name comes with a schema step, so an older build refuses such a file
// instead of misreading it.
enum class Verdict {
  kUpgraded,             // "upgraded": success after a whole, checked download
  kRefused,              // "refused": the checks refused the box ("Upgrade Fail")
  kFailed,               // "failed": the tool itself failed (internal error)
  kRestarted,            // "restarted": the box started its own software before success
  kPortGone,             // "port_gone": the port went away during the box's run
  kTimeout,              // "timeout": the run's time limit expired
  kSuccessAfterFailure,  // "success_after_failure": the box reported success after a failure
  kInterrupted,          // "interrupted": Ctrl-C or SIGTERM ended the run
  kAccepted,             // "accepted": check-only; the box would take the image, nothing sent
};

inline constexpr std::array<Verdict, 9> kAllVerdicts = {Verdict::kUpgraded,
                                                        Verdict::kRefused,
                                                        Verdict::kFailed,
                                                        Verdict::kRestarted,
                                                        Verdict::kPortGone,
                                                        Verdict::kTimeout,
                                                        Verdict::kSuccessAfterFailure,
                                                        Verdict::kInterrupted,
                                                        Verdict::kAccepted};

std::string_view VerdictName(Verdict verdict);
std::optional<Verdict> VerdictFromName(std::string_view name);

// The exit status for a box that ended so: the command line's, and the figure
// every front end's records carry, so records of every front end compare.
constexpr int ExitStatusOf(Verdict verdict) {
  switch (verdict) {
    case Verdict::kUpgraded:
    case Verdict::kAccepted:
      return kExitOk;
    case Verdict::kRefused:
      return kExitRefused;
    case Verdict::kFailed:
      return kExitInternalError;
    case Verdict::kRestarted:
      return kExitNormalStart;
    case Verdict::kPortGone:
      return kExitPortGone;
    case Verdict::kTimeout:
      return kExitTimeout;
    case Verdict::kSuccessAfterFailure:
      return kExitSuccessAfterFailure;
    case Verdict::kInterrupted:
      return kExitInterrupted;
  }
  return kExitInternalError;
}

// One box seen through to a verdict. Times are UTC, ISO 8601 with
// milliseconds ("2026-12-08T12:34:56.789Z"). Texts that came from the box or
// the image are byte strings kept as UTF-8, each byte the code point of the
// same value. What the box never told (it restarted before identifying
// itself) stays empty.
struct BoxRecord {
  std::string record_id;  // a random UUID: unique across stations and files
  std::string started_at;
  std::string ended_at;
  std::string station;    // the station's name: as the operator gave it, else the host name
  std::string front_end;  // "upgrade", "station" or "window"
  std::string port;       // the name as given: "COM1" or a device path

  std::optional<std::string> loader_kind;     // "5518" or "2LL"
  std::optional<std::string> loader_version;  // "%4.4X", as the log shows it
  // The engine's flash size code: 0 1 Mbyte (or a jig), 1 2 Mbyte, 4 4 Mbyte,
  // 8 8 Mbyte; and the chip as maker and device, "%4.4X" ("2782"; "0000" unknown).
  std::optional<std::int32_t> flash_size;
  std::optional<std::string> flash_chip;
  std::optional<std::string> box_model;
  std::optional<std::string> box_hw;  // "01.02.03"
  std::optional<std::string> box_sw;

  std::string image_path;
  std::optional<std::int64_t> image_size;
  std::optional<std::string> image_sha256;  // filled by the store, off the exchange
  std::string image_model;
  std::string image_hw;
  std::string image_sw;
  std::string image_type;

  std::int32_t blocks_sent = 0;     // blocks the box accepted
  std::int32_t blocks_retried = 0;  // blocks the box asked again ("1024DOWN_ERR")
  double seconds = 0;
  Verdict verdict = Verdict::kFailed;
  int exit_status = kExitInternalError;
  // The last log lines before the verdict, one per line; empty for a box
  // that was upgraded or accepted.
  std::string log_tail;
  // Who ran the box and for which work order, when the operator said.
  std::optional<std::string> operator_name;
  std::optional<std::string> work_order;

  bool operator==(const BoxRecord&) const = default;
};

}  // namespace stbup
