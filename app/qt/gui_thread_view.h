#pragma once

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <QObject>
#include <QTimer>

#include "seams/view.h"

namespace stbup {

class GuiTurn;

// The View over the window's widgets for whoever acts as the user-interface
// thread. On that thread a call reaches the widgets at once. A serial thread
// running a reply in the turn (app/qt/gui_turn.h) must not touch them: what
// it shows is queued in order and handed to the user-interface thread, at
// once when that thread is idle and then at most every kPace while changes
// keep coming, so a download does not wake it for every block; the byte
// count and the bars keep only their latest value in between. A modal box is
// shown by the user-interface thread while its caller waits with the turn
// given up, as a modal box's loop runs other handlers meanwhile. What the
// engine reads back (Label3's caption, the edits) comes from what was last
// set, or typed by the operator, never from a widget the other thread owns.
//
// Everything here runs in the turn, which orders it; only a modal box's
// waiter and the latest values have locks of their own. What only changes
// the looks (the memo, the captions, the bars) reaches the widgets with the
// turn lent, so a serial thread's next reply does not wait for it.
class GuiThreadView : public View {
 public:
  static constexpr int kPace = 50;  // ms between hand-overs while changes come

  // widgets: the View over the controls, used on the user-interface thread
  // only. turn: given up while a caller waits for a modal box; none where
  // every call runs on the user-interface thread. Made on that thread.
  GuiThreadView(View& widgets, GuiTurn* turn);
  ~GuiThreadView() override;

  void AddMemoLine(std::string_view line) override;
  void ClearMemo() override;
  void SetMemoColour(Colour colour) override;
  std::string Label3Caption() const override;
  void SetLabel3(std::string_view caption, Colour colour) override;
  void SetLogo(std::optional<std::string_view> caption, std::optional<Colour> text,
               std::optional<Colour> background) override;
  void SetProgress(ProgressBar bar, int percent) override;
  void SetFileSize(std::string_view text) override;
  void ShowConnect(bool visible, std::string_view caption) override;
  void EnableSetupControls(bool enabled) override;
  void SetEdit(Edit edit, std::string_view text) override;
  std::string EditText(Edit edit) const override;
  void ShowMessage(std::string_view text) override;
  void ReportError(std::string_view text) override;
  void Beep() override;
  void Timer1Changed(int interval) override;
  void PortChanged(bool open, std::string_view device) override;

  // An edit's text changed on the user-interface thread (the operator typed,
  // a dialog filled it in): what it now reads is what the engine reads.
  void EditChanged(Edit edit);

  // Shows what is still queued; on the user-interface thread.
  void ShowQueued();

  // At shutdown, on the user-interface thread: what is queued is dropped,
  // callers waiting for a modal box are let go, and what other threads show
  // from now on is dropped.
  void Close();

 private:
  struct ModalWait;
  struct Queued {
    std::function<void()> show;
    std::shared_ptr<ModalWait> modal;  // set for a modal box
    // Changes only what the window looks like (the memo, the captions, the
    // bars): handed to the widgets with the turn lent.
    bool display_only = false;
  };
  static constexpr std::size_t kEdits = 6;

  bool OnUiThread() const;
  // Shows now on the user-interface thread, after what is queued; queues it
  // from any other. display_only: see Queued.
  void Show(std::function<void()> show, bool display_only = false);
  // Shows a modal box and returns once it has been closed.
  void ShowModal(std::function<void()> show);
  // lend_turn: from the message loop, with no handler of the window's
  // under way, the widgets' part of what only changes the looks runs with
  // the turn lent, where there is one (never in the middle of the window's
  // own logic).
  void ShowQueued(bool lend_turn);
  // A hand-over is due: posted now if none is pending.
  void HandOver();
  void Paced();

  View& widgets_;
  GuiTurn* const turn_;
  QObject context_;
  QTimer pace_;
  std::deque<Queued> queued_;
  // A hand-over is posted or paced; later changes wait for it.
  bool handing_over_ = false;
  // The widgets are being changed from here: their change signals are ours.
  bool applying_ = false;
  bool closed_ = false;
  // Latest values not yet shown, queued once each. Their own lock: the
  // user-interface thread takes them with the turn lent.
  std::mutex latest_mutex_;
  std::optional<std::string> file_size_;
  std::array<std::optional<int>, 2> progress_;
  // What the engine reads back.
  std::string label3_;
  std::array<std::string, kEdits> edits_;
};

}  // namespace stbup
