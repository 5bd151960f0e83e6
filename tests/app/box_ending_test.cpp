#include "app/core/box_ending.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <variant>

#include "seams/exit_status.h"

namespace stbup {
namespace {

// Every way a box ends, through the one table every front end uses: the
// verdict the records keep, the exit status, and whether the summary counts it.
TEST(BoxEndingTest, EveryEndingHasItsVerdictAndStatus) {
  const BoxSoFar spoke{.announced = true};
  const BoxSoFar accepted{.announced = true, .accepted = true};
  const BoxSoFar silent{};
  const BoxSoFar one_box{.single_box = true};
  const BoxSoFar checking{.announced = true, .check_only = true};
  const BoxSoFar ended{.announced = true, .accepted = true, .ended = true};
  // What happens: a run event of the engine, or the run cut short from outside.
  using Happening = std::variant<RunEvent, Verdict>;
  const struct {
    std::string name;
    Happening happening;
    BoxSoFar box;
    bool record_whole;
    std::optional<Verdict> verdict;
    int status;  // of the command's run
    bool counted;
  } cases[] = {
      {"upgraded", RunEvent::kUpgradeSuccess, accepted, true, Verdict::kUpgraded, kExitOk, true},
      {"refused", RunEvent::kRefused, spoke, true, Verdict::kRefused, kExitRefused, true},
      {"restart notice mid-box", RunEvent::kNormalStart, accepted, true, Verdict::kRestarted,
       kExitNormalStart, true},
      {"restart notice before the checks", RunEvent::kNormalStart, spoke, true, Verdict::kRestarted,
       kExitNormalStart, false},
      {"restart notice of the one box awaited", RunEvent::kNormalStart, one_box, true,
       Verdict::kRestarted, kExitNormalStart, true},
      {"restart notice of no box", RunEvent::kNormalStart, silent, true, std::nullopt, 0, false},
      {"restart after the verdict", RunEvent::kNormalStart, ended, true, std::nullopt, 0, false},
      {"port gone mid-box", Verdict::kPortGone, accepted, true, Verdict::kPortGone, kExitPortGone,
       true},
      {"port gone before the checks", Verdict::kPortGone, spoke, true, Verdict::kPortGone,
       kExitPortGone, false},
      {"port gone with no box", Verdict::kPortGone, silent, true, std::nullopt, 0, false},
      {"time limit", Verdict::kTimeout, accepted, true, Verdict::kTimeout, kExitTimeout, true},
      {"success after failure", RunEvent::kSuccessAfterFailure, accepted, true,
       Verdict::kSuccessAfterFailure, kExitSuccessAfterFailure, true},
      {"interrupted", Verdict::kInterrupted, accepted, true, Verdict::kInterrupted,
       kExitInterrupted, true},
      {"check-only accepted", RunEvent::kAccepted, checking, true, Verdict::kAccepted, kExitOk,
       true},
      {"accepted is no ending when upgrading", RunEvent::kAccepted, spoke, true, std::nullopt, 0,
       false},
      {"announced is no ending", RunEvent::kAnnounced, silent, true, std::nullopt, 0, false},
      {"log incomplete after an upgrade", RunEvent::kUpgradeSuccess, accepted, false,
       Verdict::kUpgraded, kExitRecordIncomplete, true},
      {"log incomplete after a refusal", RunEvent::kRefused, spoke, false, Verdict::kRefused,
       kExitRefused, true},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const std::optional<BoxEnding> ending =
        std::holds_alternative<RunEvent>(test.happening)
            ? EndingOfRunEvent(std::get<RunEvent>(test.happening), test.box)
            : EndingOfCut(std::get<Verdict>(test.happening), test.box);
    ASSERT_EQ(ending.has_value(), test.verdict.has_value());
    if (!ending) continue;
    EXPECT_EQ(ending->verdict, *test.verdict);
    EXPECT_EQ(ending->counted, test.counted);
    EXPECT_EQ(RunExitStatus(ExitStatusOf(ending->verdict), test.record_whole), test.status);
    // The records read the status back as the same verdict.
    EXPECT_EQ(VerdictOfStatus(ExitStatusOf(ending->verdict), test.box.check_only), ending->verdict);
  }
}

}  // namespace
}  // namespace stbup
