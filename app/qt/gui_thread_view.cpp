#include "app/qt/gui_thread_view.h"

#include <QThread>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

#include "app/qt/gui_turn.h"

namespace stbup {

struct GuiThreadView::ModalWait {
  std::mutex mutex;
  std::condition_variable closed;
  bool done = false;
  std::exception_ptr failure;

  void Done() {
    {
      std::lock_guard lock(mutex);
      done = true;
    }
    closed.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex);
    closed.wait(lock, [this] { return done; });
  }
};

GuiThreadView::GuiThreadView(View& widgets, GuiTurn* turn) : widgets_(widgets), turn_(turn) {
  pace_.setSingleShot(true);
  pace_.setInterval(kPace);
  QObject::connect(&pace_, &QTimer::timeout, &context_, [this] { Paced(); });
  label3_ = widgets_.Label3Caption();
  for (std::size_t i = 0; i < kEdits; ++i) edits_[i] = widgets_.EditText(static_cast<Edit>(i));
}

GuiThreadView::~GuiThreadView() { Close(); }

bool GuiThreadView::OnUiThread() const { return QThread::currentThread() == context_.thread(); }

void GuiThreadView::ShowQueued() { ShowQueued(false); }

void GuiThreadView::ShowQueued(bool lend_turn) {
  std::vector<std::function<void()>> display;
  while (!queued_.empty()) {
    if (lend_turn && turn_ != nullptr && queued_.front().display_only) {
      // What only changes the looks, taken off together: the serial threads
      // may queue more meanwhile, behind it.
      display.clear();
      while (!queued_.empty() && queued_.front().display_only) {
        display.push_back(std::move(queued_.front().show));
        queued_.pop_front();
      }
      const auto show_all = [&display] {
        for (const auto& show : display) show();
      };
      turn_->LendWhile(show_all);
      continue;
    }
    // Taken off first: a modal box's loop may show what follows it.
    Queued next = std::move(queued_.front());
    queued_.pop_front();
    if (next.modal) {
      try {
        next.show();
      } catch (...) {
        next.modal->failure = std::current_exception();
      }
      next.modal->Done();
      continue;
    }
    applying_ = true;
    next.show();
    applying_ = false;
  }
}

void GuiThreadView::Show(std::function<void()> show, bool display_only) {
  if (OnUiThread()) {
    ShowQueued();
    applying_ = true;
    show();
    applying_ = false;
    return;
  }
  if (closed_) return;
  queued_.push_back({std::move(show), nullptr, display_only});
  HandOver();
}

void GuiThreadView::ShowModal(std::function<void()> show) {
  if (OnUiThread()) {
    ShowQueued();
    show();
    return;
  }
  // Only a caller in the turn runs the logic off the user-interface thread.
  if (closed_ || turn_ == nullptr || !turn_->Inside()) return;
  auto wait = std::make_shared<ModalWait>();
  queued_.push_back({std::move(show), wait});
  // At once, paced or not: the caller waits for it.
  QMetaObject::invokeMethod(
      &context_, [this] { ShowQueued(true); }, Qt::QueuedConnection);
  turn_->Suspend();
  wait->Wait();
  turn_->Resume();
  if (wait->failure) std::rethrow_exception(wait->failure);
}

void GuiThreadView::HandOver() {
  if (handing_over_) return;
  handing_over_ = true;
  QMetaObject::invokeMethod(
      &context_,
      [this] {
        ShowQueued(true);
        pace_.start();
      },
      Qt::QueuedConnection);
}

void GuiThreadView::Paced() {
  if (queued_.empty()) {
    handing_over_ = false;
    return;
  }
  ShowQueued(true);
  pace_.start();
}

void GuiThreadView::Close() {
  if (closed_) return;
  closed_ = true;
  pace_.stop();
  for (Queued& queued : queued_) {
    if (queued.modal) queued.modal->Done();
  }
  queued_.clear();
}

void GuiThreadView::AddMemoLine(std::string_view line) {
  Show([this, line = std::string(line)] { widgets_.AddMemoLine(line); }, true);
}

void GuiThreadView::ClearMemo() {
  Show([this] { widgets_.ClearMemo(); }, true);
}

void GuiThreadView::SetMemoColour(Colour colour) {
  Show([this, colour] { widgets_.SetMemoColour(colour); }, true);
}

std::string GuiThreadView::Label3Caption() const { return label3_; }

void GuiThreadView::SetLabel3(std::string_view caption, Colour colour) {
  label3_ = std::string(caption);
  Show([this, caption = label3_, colour] { widgets_.SetLabel3(caption, colour); }, true);
}

void GuiThreadView::SetLogo(std::optional<std::string_view> caption, std::optional<Colour> text,
                            std::optional<Colour> background) {
  std::optional<std::string> kept;
  if (caption) kept.emplace(*caption);
  Show(
      [this, kept = std::move(kept), text, background] {
        widgets_.SetLogo(kept ? std::optional<std::string_view>(*kept) : std::nullopt, text,
                         background);
      },
      true);
}

void GuiThreadView::SetProgress(ProgressBar bar, int percent) {
  std::optional<int>& latest = progress_[bar == ProgressBar::kPb1 ? 0 : 1];
  if (OnUiThread()) {
    // Whatever is queued is older than this.
    ShowQueued();
    widgets_.SetProgress(bar, percent);
    return;
  }
  if (closed_) return;
  {
    std::lock_guard lock(latest_mutex_);
    const bool queued = latest.has_value();
    latest = percent;
    if (queued) return;
  }
  queued_.push_back({[this, bar, &latest] {
                       std::unique_lock lock(latest_mutex_);
                       const int shown = *latest;
                       latest.reset();
                       lock.unlock();
                       widgets_.SetProgress(bar, shown);
                     },
                     nullptr, true});
  HandOver();
}

void GuiThreadView::SetFileSize(std::string_view text) {
  if (OnUiThread()) {
    ShowQueued();
    widgets_.SetFileSize(text);
    return;
  }
  if (closed_) return;
  {
    std::lock_guard lock(latest_mutex_);
    const bool queued = file_size_.has_value();
    file_size_ = std::string(text);
    if (queued) return;
  }
  queued_.push_back({[this] {
                       std::unique_lock lock(latest_mutex_);
                       const std::string shown = std::move(*file_size_);
                       file_size_.reset();
                       lock.unlock();
                       widgets_.SetFileSize(shown);
                     },
                     nullptr, true});
  HandOver();
}

void GuiThreadView::ShowConnect(bool visible, std::string_view caption) {
  Show([this, visible, caption = std::string(caption)] { widgets_.ShowConnect(visible, caption); });
}

void GuiThreadView::EnableSetupControls(bool enabled) {
  Show([this, enabled] { widgets_.EnableSetupControls(enabled); });
}

void GuiThreadView::SetEdit(Edit edit, std::string_view text) {
  edits_[static_cast<std::size_t>(edit)] = std::string(text);
  Show([this, edit, text = std::string(text)] { widgets_.SetEdit(edit, text); });
}

std::string GuiThreadView::EditText(Edit edit) const {
  return edits_[static_cast<std::size_t>(edit)];
}

void GuiThreadView::EditChanged(Edit edit) {
  if (applying_) return;  // already known: it was set from here
  edits_[static_cast<std::size_t>(edit)] = widgets_.EditText(edit);
}

void GuiThreadView::ShowMessage(std::string_view text) {
  ShowModal([this, text = std::string(text)] { widgets_.ShowMessage(text); });
}

void GuiThreadView::ReportError(std::string_view text) {
  ShowModal([this, text = std::string(text)] { widgets_.ReportError(text); });
}

void GuiThreadView::Beep() {
  Show([this] { widgets_.Beep(); });
}

void GuiThreadView::Timer1Changed(int interval) {
  Show([this, interval] { widgets_.Timer1Changed(interval); });
}

void GuiThreadView::PortChanged(bool open, std::string_view device) {
  Show([this, open, device = std::string(device)] { widgets_.PortChanged(open, device); });
}

}  // namespace stbup
