#include "app/win32/main_frm_controller.h"

namespace stbup {
namespace {

std::unique_ptr<TeeView> AlsoShown(View& shown, View* also_shown) {
  if (also_shown == nullptr) return nullptr;
  return std::make_unique<TeeView>(shown, *also_shown);
}

}  // namespace

MainFrmController::MainFrmController(Port& port, Settings& settings, Dialogs& dialogs,
                                     const std::string& trace_path, View* also_shown)
    : form_view_(frame_, dialogs),
      trace_(TraceFile::Open(trace_path, form_view_)),
      also_shown_(AlsoShown(trace_ ? trace_->Tee() : static_cast<View&>(form_view_), also_shown)),
      view_(also_shown_ ? static_cast<View&>(*also_shown_)
            : trace_    ? trace_->Tee()
                        : static_cast<View&>(form_view_)),
      controls_(frame_),
      file_dialog_(frame_, dialogs),
      timer_(frame_.Handle(), TMainFrm::kTimer1Id),
      logic_(view_, port, timer_, settings, file_dialog_, controls_) {
  // The start-up hides both for good; they exist only for the design.
  ::ShowWindow(frame_.edStartBlock, SW_HIDE);
  ::ShowWindow(frame_.lableStartBlock, SW_HIDE);

  frame_.OnFileOpen = [this] { logic_.Open1Click(); };
  frame_.OnPortChosen = [this](int index) { logic_.cbPortChange(index); };
  // Asked anew each time it opens, so an adapter plugged in since is offered.
  frame_.OnPortListOpening = [this] { logic_.RefreshPorts(); };
  frame_.OnConnect = [this] { logic_.bbConnectClick(); };
  frame_.OnExit = [this] { logic_.Exit1Click(); };
  frame_.OnKeyPress = [this](char key) { logic_.FormKeyPress(key); };
  frame_.OnClose = [this] { return logic_.FormClose(); };
  frame_.OnTimer1 = [this] { logic_.Timer1Timer(); };
}

void MainFrmController::Start(std::string_view first_argument) {
  // As the design has it, the window is created (and may report) before it shows.
  logic_.FormCreate(first_argument);
  ::ShowWindow(frame_.Handle(), SW_SHOWNORMAL);
  ::UpdateWindow(frame_.Handle());
}

}  // namespace stbup
