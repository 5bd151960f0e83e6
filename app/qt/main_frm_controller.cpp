#include "app/qt/main_frm_controller.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>
#include <utility>

#include "app/qt/port_combo_box.h"

namespace stbup {
namespace {

std::unique_ptr<TeeView> AlsoShown(View& shown, View* also_shown) {
  if (also_shown == nullptr) return nullptr;
  return std::make_unique<TeeView>(shown, *also_shown);
}

}  // namespace

MainFrmController::MainFrmController(Port& port, Settings& settings, Dialogs& dialogs,
                                     const std::string& trace_path, View* also_shown, GuiTurn* turn)
    : form_view_(frame_, dialogs),
      gui_view_(form_view_, turn),
      trace_(TraceFile::Open(trace_path, gui_view_)),
      also_shown_(AlsoShown(trace_ ? trace_->Tee() : static_cast<View&>(gui_view_), also_shown)),
      view_(also_shown_ ? static_cast<View&>(*also_shown_)
            : trace_    ? trace_->Tee()
                        : static_cast<View&>(gui_view_)),
      controls_(frame_),
      file_dialog_(frame_, dialogs),
      timer_([this] { logic_.Timer1Timer(); }),
      logic_(view_, port, timer_, settings, file_dialog_, controls_) {
  // The start-up hides both for good; they exist only for the design.
  frame_.edStartBlock->hide();
  frame_.lableStartBlock->hide();

  QObject::connect(frame_.bbFileOpen, &QPushButton::clicked, [this] { logic_.Open1Click(); });
  // `activated` is the operator's choice only, also of the item already shown.
  QObject::connect(frame_.cbPort, &QComboBox::activated,
                   [this](int index) { logic_.cbPortChange(index); });
  frame_.cbPort->OnPopup = [this] { logic_.RefreshPorts(); };
  QObject::connect(frame_.bbConnect, &QPushButton::clicked, [this] { logic_.bbConnectClick(); });
  QObject::connect(frame_.bbExit, &QPushButton::clicked, [this] { logic_.Exit1Click(); });
  frame_.OnKeyPress = [this](char key) { logic_.FormKeyPress(key); };
  frame_.OnClose = [this] { return logic_.FormClose(); };
  // What the operator types, or a dialog fills in, is what the engine reads.
  const std::pair<QLineEdit*, Edit> edits[] = {{frame_.edFileName, Edit::kFileName},
                                               {frame_.edModelName, Edit::kModelName},
                                               {frame_.edHV, Edit::kHV},
                                               {frame_.edSV, Edit::kSV},
                                               {frame_.edType, Edit::kType},
                                               {frame_.edStartBlock, Edit::kStartBlock}};
  for (const auto& [widget, edit] : edits) {
    QObject::connect(widget, &QLineEdit::textChanged,
                     [this, edit = edit] { gui_view_.EditChanged(edit); });
  }
}

MainFrmController::~MainFrmController() = default;

void MainFrmController::Start(std::string_view first_argument) {
  // As the design has it, the window is created (and may report) before it shows.
  logic_.FormCreate(first_argument);
  frame_.show();
}

}  // namespace stbup
