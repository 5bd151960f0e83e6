#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace stbup {

// The user-interface thread's turn: what that thread holds while it does
// anything but wait for events. While Qt's loop waits (in GLib's poll, hooked
// here) the turn is free, and a serial thread may take it and run its call
// as the window's instead of waking the user-interface thread for it: a
// block's reply then costs no hand-over of threads. A thread in the turn is
// alone with everything the window does and sees all it did before; what it
// shows on the widgets it hands over (app/qt/gui_thread_view.h), since they
// belong to the user-interface thread.
//
// The turn is lent as well while the user-interface thread paints, and while
// it hands what serial threads showed to the widgets: both touch the widgets
// and nothing else, and the first picture of the window alone, or the memo
// lines of a download's start, take milliseconds that the box would
// otherwise wait.
//
// Where Qt's loop does not run on GLib (QT_NO_GLIB), the turn is never lent
// and every call is posted to the user-interface thread as before.
//
// One turn at a time in a process: it hooks the default GLib context.
class GuiTurn {
 public:
  // On the user-interface thread, after the application is made; that thread
  // holds the turn from now on.
  GuiTurn();
  // On the user-interface thread; unhooks GLib's poll.
  ~GuiTurn();
  GuiTurn(const GuiTurn&) = delete;
  GuiTurn& operator=(const GuiTurn&) = delete;

  // Whether the user-interface thread lends its turn while waiting.
  bool Lends() const { return lends_; }

  // Another thread: enters the turn if it is free, for one call; false when
  // the user-interface thread or another caller holds it, or it is closed.
  bool TryEnter();
  // The call has ended.
  void Leave();
  // A thread inside waits for the user-interface thread (a modal box it
  // asked for): it gives the turn up meanwhile and takes it back, waiting for
  // it, after. It stays inside in between, so Close waits for it.
  void Suspend();
  void Resume();

  // Whether the calling thread is inside the turn as a caller (not the
  // user-interface thread itself).
  bool Inside() const;

  // On the user-interface thread: runs call with the turn lent to the other
  // threads, so call must touch nothing but the widgets. Where the turn is
  // not lent (no GLib, closed, or lent already) call runs as it is.
  void LendWhile(const std::function<void()>& call);

  // On the user-interface thread, once its message loop has ended: lets the
  // callers still inside (waiting to resume after a modal box) finish their
  // calls, then keeps the turn for good.
  void Close();

 private:
  // GLib's poll hook lends the turn while it waits.
  friend struct GuiTurnHook;
  // Lends it while a window paints.
  class WhilePainting;
  friend class WhilePainting;

  // On the user-interface thread, holding the turn: it may lend it now.
  bool CanLend() const { return lends_ && !kept_ && !lent_; }

  std::mutex turn_;
  const bool lends_;
  // The user-interface thread keeps the turn for good (closed); read and
  // written by that thread only.
  bool kept_ = false;
  // The user-interface thread has lent the turn and runs a call meanwhile;
  // read and written by that thread only.
  bool lent_ = false;
  std::unique_ptr<WhilePainting> painting_;

  // Callers inside; guarded by inside_mutex_.
  std::mutex inside_mutex_;
  std::condition_variable left_;
  int inside_ = 0;
  bool closed_ = false;
};

}  // namespace stbup
