#include "app/qt/gui_turn.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/qt/gui_thread_view.h"
#include "app/qt/qt_main_thread_queue.h"
#include "app/qt/qt_poll_timer.h"
#include "tests/qt/support/run_until.h"
#include "tests/support/recording_view.h"

namespace stbup {
namespace {

using namespace std::chrono_literals;

// With QT_NO_GLIB the turn is never lent: every call is posted, as the
// window's own tests show.
constexpr const char* kNoGlib = "Qt's loop does not run on GLib here";

// Enters the turn from a worker, which succeeds once the window's loop waits.
void EnterSoon(GuiTurn& turn) {
  while (!turn.TryEnter()) std::this_thread::sleep_for(100us);
}

// The widgets' View for these tests: what reached it, in order, and how many
// of its calls came off the window's thread.
struct Widgets {
  Widgets() {
    view.on_event = [this](const std::string& event) {
      if (QThread::currentThread() != ui_thread) ++off_ui_thread;
      if (event.starts_with("message:") && while_open) while_open();
    };
  }
  RecordingView view;
  QThread* ui_thread = QThread::currentThread();
  int off_ui_thread = 0;
  // Runs inside a modal box, as its loop would.
  std::function<void()> while_open;
};

TEST(GuiTurn, ACallRunsOnItsWorkerWhileTheWindowWaitsAndOnTheWindowWhileItIsBusy) {
  GuiTurn turn;
  if (!turn.Lends()) GTEST_SKIP() << kNoGlib;
  QtMainThreadQueue queue(&turn);
  const std::thread::id ui = std::this_thread::get_id();

  // The window waits in its loop: the worker runs the call itself.
  std::thread::id ran_on;
  std::atomic<bool> done{false};
  std::thread idle([&] {
    EnterSoon(turn);  // only to know the loop waits now
    turn.Leave();
    queue.RunOnMainThread([&] { ran_on = std::this_thread::get_id(); });
    done = true;
  });
  ASSERT_TRUE(RunUntil([&] { return done.load(); }));
  idle.join();
  EXPECT_NE(ran_on, ui);

  // The window is busy (outside its loop): the call waits for it.
  done = false;
  std::thread busy([&] {
    queue.RunOnMainThread([&] { ran_on = std::this_thread::get_id(); });
    done = true;
  });
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(done);
  ASSERT_TRUE(RunUntil([&] { return done.load(); }));
  busy.join();
  EXPECT_EQ(ran_on, ui);
}

// Plain variables on purpose: ThreadSanitizer checks the turn's ordering too.
TEST(GuiTurn, CallsInTheTurnNeverOverlapEachOtherOrTheWindowsOwnWork) {
  GuiTurn turn;
  if (!turn.Lends()) GTEST_SKIP() << kNoGlib;
  QtMainThreadQueue queue(&turn);
  bool busy = false;
  int overlaps = 0;
  long total = 0;
  int in_turn = 0;
  const auto work = [&] {
    if (busy) ++overlaps;
    busy = true;
    for (int i = 0; i < 50; ++i) ++total;
    busy = false;
  };
  QTimer window_work;
  QObject::connect(&window_work, &QTimer::timeout, work);
  window_work.start(1);
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < 3; ++w) {
    workers.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        queue.RunOnMainThread([&] {
          if (turn.Inside()) ++in_turn;
          work();
        });
      }
      ++finished;
    });
  }
  ASSERT_TRUE(RunUntil([&] { return finished == 3; }, 30s));
  for (std::thread& worker : workers) worker.join();
  window_work.stop();
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(total % 50, 0);
  EXPECT_GT(in_turn, 0);  // some calls did run on their workers
}

TEST(GuiTurn, ACallMadeInsideACallInTheTurnRunsAtOnce) {
  GuiTurn turn;
  if (!turn.Lends()) GTEST_SKIP() << kNoGlib;
  QtMainThreadQueue queue(&turn);
  std::atomic<bool> done{false};
  bool inner_inside = false;
  std::thread worker([&] {
    EnterSoon(turn);
    queue.RunOnMainThread([&] { inner_inside = turn.Inside(); });
    turn.Leave();
    done = true;
  });
  ASSERT_TRUE(RunUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_TRUE(inner_inside);
}

// A widget that paints until a worker has entered the turn (2 s at most).
class SlowPainter : public QWidget {
 public:
  explicit SlowPainter(const std::atomic<bool>& entered) : entered_(entered) {}
  std::atomic<bool> painting{false};
  std::atomic<int> paints{0};

 protected:
  void paintEvent(QPaintEvent*) override {
    painting = true;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (!entered_ && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(1ms);
    }
    painting = false;
    ++paints;
  }

 private:
  const std::atomic<bool>& entered_;
};

TEST(GuiTurn, TheTurnIsLentWhileTheWindowPaints) {
  GuiTurn turn;
  if (!turn.Lends()) GTEST_SKIP() << kNoGlib;
  std::atomic<bool> entered{false};
  SlowPainter window(entered);
  bool entered_while_painting = false;
  std::thread worker([&] {
    while (!window.painting) std::this_thread::sleep_for(100us);
    EnterSoon(turn);
    entered_while_painting = window.painting;
    entered = true;
    turn.Leave();
  });
  window.resize(40, 30);
  window.show();
  ASSERT_TRUE(RunUntil([&] { return entered && window.paints > 0; }));
  worker.join();
  EXPECT_TRUE(entered_while_painting);
}

TEST(GuiThreadView, WhatAWorkerShowsReachesTheWidgetsInOrderOnTheWindowsThread) {
  GuiTurn turn;
  if (!turn.Lends()) GTEST_SKIP() << kNoGlib;
  Widgets widgets;
  GuiThreadView view(widgets.view, &turn);
  std::string read_back;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    EnterSoon(turn);
    view.AddMemoLine("DownLoad Start");
    view.SetLabel3("L 217 MX1", colours::kBlack);
    read_back = view.Label3Caption();
    for (int block = 1; block <= 300; ++block) {
      view.SetProgress(ProgressBar::kPb1, block / 3);
      view.SetFileSize("(" + std::to_string(block * 1024) + " / 307200)");
    }
    view.SetLogo("Upgrade End!", std::nullopt, std::nullopt);
    view.AddMemoLine("Upgrade End");
    turn.Leave();
    done = true;
  });
  // Nothing touches a widget off the window's thread, even while it waits.
  ASSERT_TRUE(RunUntil([&] {
    return done && !widgets.view.events.empty() && widgets.view.events.back() == "memo:Upgrade End";
  }));
  worker.join();
  EXPECT_EQ(read_back, "L 217 MX1");
  EXPECT_EQ(widgets.off_ui_thread, 0);
  // The bars and the byte count keep their latest value in between.
  const std::vector<std::string> expected = {
      "memo:DownLoad Start",        "label3:L 217 MX1|#000000", "pb1:100",
      "filesize:(307200 / 307200)", "logo:Upgrade End!||",      "memo:Upgrade End"};
  EXPECT_EQ(widgets.view.events, expected);

  // On the window's own thread a call shows at once.
  view.AddMemoLine("  ");
  EXPECT_EQ(widgets.view.events.back(), "memo:  ");
}

// The memo, the captions and the bars reach the widgets with the turn lent:
// a worker's next reply does not wait for them. A change to the controls
// (what the operator may act on) is made with the turn held.
TEST(GuiThreadView, WhatOnlyChangesTheLooksIsShownWithTheTurnLent) {
  GuiTurn turn;
  if (!turn.Lends()) GTEST_SKIP() << kNoGlib;
  RecordingView widgets;
  GuiThreadView view(widgets, &turn);
  std::atomic<bool> showing_memo{false};
  std::atomic<bool> entered{false};
  std::atomic<bool> entered_during_memo{false};
  std::atomic<bool> entered_during_setup{false};
  widgets.on_event = [&](const std::string& event) {
    if (event == "memo:DownLoad Start") {
      showing_memo = true;
      const auto deadline = std::chrono::steady_clock::now() + 2s;
      while (!entered && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100us);
      }
      showing_memo = false;
    }
    if (event == "setup:0") {
      // Another thread finds the turn taken for as long as this lasts.
      std::thread other([&] {
        if (turn.TryEnter()) {
          entered_during_setup = true;
          turn.Leave();
        }
      });
      other.join();
    }
  };
  std::thread first([&] {
    EnterSoon(turn);
    view.AddMemoLine("DownLoad Start");
    view.EnableSetupControls(false);
    turn.Leave();
  });
  std::thread second([&] {
    while (!showing_memo) std::this_thread::sleep_for(100us);
    EnterSoon(turn);
    entered_during_memo = showing_memo.load();
    view.SetProgress(ProgressBar::kPb1, 50);
    entered = true;
    turn.Leave();
  });
  ASSERT_TRUE(RunUntil([&] {
    return std::find(widgets.events.begin(), widgets.events.end(), "pb1:50") !=
           widgets.events.end();
  }));
  first.join();
  second.join();
  EXPECT_TRUE(entered_during_memo);
  EXPECT_FALSE(entered_during_setup);
  const std::vector<std::string> expected = {"memo:DownLoad Start", "setup:0", "pb1:50"};
  EXPECT_EQ(widgets.events, expected);
}

// The window's own logic shows something while a worker's lines still wait:
// they go first, with the turn held, as the logic is under way.
TEST(GuiThreadView, TheTurnIsNotLentInTheMiddleOfTheWindowsOwnLogic) {
  GuiTurn turn;
  if (!turn.Lends()) GTEST_SKIP() << kNoGlib;
  RecordingView widgets;
  GuiThreadView view(widgets, &turn);
  bool entered_meanwhile = false;
  widgets.on_event = [&](const std::string& event) {
    if (event != "memo:from the worker") return;
    std::thread other([&] {
      if (turn.TryEnter()) {
        entered_meanwhile = true;
        turn.Leave();
      }
    });
    other.join();
  };
  // The worker's line is queued while the window does something else.
  turn.LendWhile([&] {
    std::thread worker([&] {
      EnterSoon(turn);
      view.AddMemoLine("from the worker");
      turn.Leave();
    });
    worker.join();
  });
  view.AddMemoLine("from the window");
  EXPECT_FALSE(entered_meanwhile);
  const std::vector<std::string> expected = {"memo:from the worker", "memo:from the window"};
  EXPECT_EQ(widgets.events, expected);
}

TEST(GuiThreadView, TheEngineReadsWhatWasLastSetOrTyped) {
  GuiTurn turn;
  if (!turn.Lends()) GTEST_SKIP() << kNoGlib;
  Widgets widgets;
  GuiThreadView view(widgets.view, &turn);
  std::string in_turn;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    EnterSoon(turn);
    view.SetEdit(Edit::kType, "ZCODE");
    in_turn = view.EditText(Edit::kType);
    turn.Leave();
    done = true;
  });
  ASSERT_TRUE(RunUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(in_turn, "ZCODE");
  // The operator types over it.
  widgets.view.edits[Edit::kType] = "CODE";
  view.EditChanged(Edit::kType);
  EXPECT_EQ(view.EditText(Edit::kType), "CODE");
}

TEST(GuiThreadView, AModalBoxAskedInTheTurnIsShownByTheWindowWhileItsCallerWaits) {
  GuiTurn turn;
  if (!turn.Lends()) GTEST_SKIP() << kNoGlib;
  QtMainThreadQueue queue(&turn);
  Widgets widgets;
  GuiThreadView view(widgets.view, &turn);
  // While the box is open another worker's call is served, as a modal
  // box's loop does.
  std::atomic<bool> other_ran{false};
  widgets.while_open = [&] {
    std::thread other([&] { queue.RunOnMainThread([&] { other_ran = true; }); });
    RunUntil([&] { return other_ran.load(); });
    other.join();
  };
  std::atomic<bool> done{false};
  bool inside_after = false;
  std::thread worker([&] {
    EnterSoon(turn);
    view.AddMemoLine("5518 detected..");
    view.ShowMessage("Need higher up tool !");
    inside_after = turn.Inside();
    view.AddMemoLine("after");
    turn.Leave();
    done = true;
  });
  ASSERT_TRUE(RunUntil([&] {
    return done && !widgets.view.events.empty() && widgets.view.events.back() == "memo:after";
  }));
  worker.join();
  EXPECT_TRUE(other_ran);
  EXPECT_TRUE(inside_after);
  EXPECT_EQ(widgets.off_ui_thread, 0);
  const std::vector<std::string> expected = {"memo:5518 detected..",
                                             "message:Need higher up tool !", "memo:after"};
  EXPECT_EQ(widgets.view.events, expected);
}

TEST(GuiThreadView, ClosingLetsACallerWaitingForAModalBoxGoWithoutTheBox) {
  GuiTurn turn;
  if (!turn.Lends()) GTEST_SKIP() << kNoGlib;
  Widgets widgets;
  GuiThreadView view(widgets.view, &turn);
  QObject window;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    EnterSoon(turn);
    // The window closes before it gets to the box.
    QMetaObject::invokeMethod(
        &window, [&] { view.Close(); }, Qt::QueuedConnection);
    view.ShowMessage("Serial Port Open Error");
    view.AddMemoLine("dropped: the window has closed");
    turn.Leave();
    done = true;
  });
  ASSERT_TRUE(RunUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_TRUE(widgets.view.events.empty());
}

TEST(GuiTurn, ClosingWaitsForACallerThatGaveTheTurnUpToFinish) {
  GuiTurn turn;
  if (!turn.Lends()) GTEST_SKIP() << kNoGlib;
  std::atomic<bool> suspended{false};
  std::atomic<bool> go{false};
  bool finished = false;
  std::thread worker([&] {
    EnterSoon(turn);
    turn.Suspend();  // waits for a modal box
    suspended = true;
    while (!go) std::this_thread::sleep_for(1ms);
    turn.Resume();
    finished = true;
    turn.Leave();
  });
  ASSERT_TRUE(RunUntil([&] { return suspended.load(); }));
  go = true;
  turn.Close();  // the message loop has ended
  EXPECT_TRUE(finished);
  worker.join();
  // Kept for good: no worker enters any more.
  std::thread late([&] { EXPECT_FALSE(turn.TryEnter()); });
  late.join();
}

TEST(QtPollTimer, StartedAndStoppedInTheTurnTheTimerFollowsOnTheWindowsThread) {
  GuiTurn turn;
  if (!turn.Lends()) GTEST_SKIP() << kNoGlib;
  std::atomic<int> ticks{0};
  QThread* ticked_on = nullptr;
  QtPollTimer timer([&] {
    ++ticks;
    ticked_on = QThread::currentThread();
  });
  int interval_in_turn = -1;
  std::atomic<bool> started{false};
  std::thread starter([&] {
    EnterSoon(turn);
    timer.Start(5);
    interval_in_turn = timer.Interval();
    turn.Leave();
    started = true;
  });
  ASSERT_TRUE(RunUntil([&] { return started && ticks >= 3; }));
  starter.join();
  EXPECT_EQ(interval_in_turn, 5);
  EXPECT_EQ(ticked_on, QThread::currentThread());

  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    EnterSoon(turn);
    timer.Stop();
    turn.Leave();
    stopped = true;
  });
  ASSERT_TRUE(RunUntil([&] { return stopped.load(); }));
  stopper.join();
  const int at_stop = ticks;
  RunUntil([] { return false; }, 40ms);
  EXPECT_EQ(ticks, at_stop);  // not one tick after Stop, even one already due
  EXPECT_EQ(timer.Interval(), 0);
}

}  // namespace
}  // namespace stbup
