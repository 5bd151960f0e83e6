#include "app/qt/main_frm_controller.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <chrono>
#include <fstream>

#include "app/qt/port_combo_box.h"
#include "cli/trace_writer.h"

namespace stbup {

// The trace file and the tee that feeds it alongside the window.
struct MainFrmController::TraceSink {
  std::ofstream file;
  TraceWriter writer;
  TeeView tee;

  TraceSink(const std::string& path, View& form_view, TraceWriter::Clock clock)
      : file(path, std::ios::binary | std::ios::trunc),
        writer(file, std::move(clock)),
        tee(form_view, writer) {}
};

std::unique_ptr<MainFrmController::TraceSink> MainFrmController::OpenTrace(const std::string& path,
                                                                           View& form_view) {
  if (path.empty()) return nullptr;
  const auto start = std::chrono::steady_clock::now();
  return std::make_unique<TraceSink>(path, form_view, [start] {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
  });
}

namespace {

std::unique_ptr<TeeView> AlsoShown(View& shown, View* also_shown) {
  if (also_shown == nullptr) return nullptr;
  return std::make_unique<TeeView>(shown, *also_shown);
}

}  // namespace

MainFrmController::MainFrmController(Port& port, Settings& settings, Dialogs& dialogs,
                                     const std::string& trace_path, View* also_shown)
    : form_view_(frame_, dialogs),
      trace_(OpenTrace(trace_path, form_view_)),
      also_shown_(AlsoShown(trace_ ? static_cast<View&>(trace_->tee) : form_view_, also_shown)),
      view_(also_shown_ ? static_cast<View&>(*also_shown_)
            : trace_    ? static_cast<View&>(trace_->tee)
                        : static_cast<View&>(form_view_)),
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
}

MainFrmController::~MainFrmController() = default;

void MainFrmController::Start(std::string_view first_argument) {
  // As the design has it, the window is created (and may report) before it shows.
  logic_.FormCreate(first_argument);
  frame_.show();
}

}  // namespace stbup
