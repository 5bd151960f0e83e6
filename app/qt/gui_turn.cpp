#include "app/qt/gui_turn.h"

#include <glib.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QThread>

namespace stbup {
namespace {

// The caller's turn, for calls it makes inside its own call.
thread_local const GuiTurn* inside_of = nullptr;

bool LoopRunsOnGlib() {
  const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  return dispatcher != nullptr && dispatcher->inherits("QEventDispatcherGlib");
}

}  // namespace

// The default context's poll, which Qt's loop on the user-interface thread
// calls to wait: the turn is free for exactly that wait.
struct GuiTurnHook {
  static inline GuiTurn* hooked = nullptr;
  static inline GPollFunc previous = nullptr;
  static inline Qt::HANDLE ui_thread = nullptr;

  static gint Poll(GPollFD* fds, guint count, gint timeout) {
    GuiTurn* turn = hooked;
    // A look without waiting is over before anyone could use the turn.
    if (turn == nullptr || timeout == 0 || turn->kept_ || turn->lent_ ||
        QThread::currentThreadId() != ui_thread) {
      return previous(fds, count, timeout);
    }
    turn->turn_.unlock();
    const gint ready = previous(fds, count, timeout);
    turn->turn_.lock();
    return ready;
  }
};

// Watches the application's events for a window's painting (an update
// request of a widget, an expose of a window) and delivers it with the turn
// lent.
class GuiTurn::WhilePainting : public QObject {
 public:
  explicit WhilePainting(GuiTurn& turn) : turn_(turn) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~WhilePainting() override {
    if (QCoreApplication::instance() != nullptr) {
      QCoreApplication::instance()->removeEventFilter(this);
    }
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if ((type != QEvent::UpdateRequest && type != QEvent::Expose) || !turn_.CanLend()) {
      return false;
    }
    turn_.LendWhile([watched, event] { watched->event(event); });
    return true;
  }

 private:
  GuiTurn& turn_;
};

GuiTurn::GuiTurn() : lends_(GuiTurnHook::hooked == nullptr && LoopRunsOnGlib()) {
  turn_.lock();
  if (!lends_) return;
  painting_ = std::make_unique<WhilePainting>(*this);
  GMainContext* context = g_main_context_default();
  GuiTurnHook::previous = g_main_context_get_poll_func(context);
  GuiTurnHook::ui_thread = QThread::currentThreadId();
  GuiTurnHook::hooked = this;
  g_main_context_set_poll_func(context, &GuiTurnHook::Poll);
}

GuiTurn::~GuiTurn() {
  Close();
  painting_.reset();
  if (lends_) {
    g_main_context_set_poll_func(g_main_context_default(), GuiTurnHook::previous);
    GuiTurnHook::hooked = nullptr;
  }
  turn_.unlock();
}

bool GuiTurn::TryEnter() {
  if (!lends_ || !turn_.try_lock()) return false;
  {
    std::lock_guard lock(inside_mutex_);
    if (closed_) {
      turn_.unlock();
      return false;
    }
    ++inside_;
  }
  inside_of = this;
  return true;
}

void GuiTurn::Leave() {
  inside_of = nullptr;
  turn_.unlock();
  {
    std::lock_guard lock(inside_mutex_);
    --inside_;
  }
  left_.notify_all();
}

void GuiTurn::Suspend() { turn_.unlock(); }

void GuiTurn::Resume() { turn_.lock(); }

bool GuiTurn::Inside() const { return inside_of == this; }

void GuiTurn::LendWhile(const std::function<void()>& call) {
  if (!CanLend()) {
    call();
    return;
  }
  lent_ = true;
  turn_.unlock();
  struct TakeBack {
    GuiTurn& turn;
    ~TakeBack() {
      turn.turn_.lock();
      turn.lent_ = false;
    }
  } take_back{*this};
  call();
}

void GuiTurn::Close() {
  if (kept_) return;
  kept_ = true;
  std::unique_lock lock(inside_mutex_);
  closed_ = true;
  if (inside_ == 0) return;
  // A caller that gave the turn up for a modal box takes it back to finish.
  turn_.unlock();
  left_.wait(lock, [this] { return inside_ == 0; });
  lock.unlock();
  turn_.lock();
}

}  // namespace stbup
