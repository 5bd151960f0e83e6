#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "app/core/main_frm_layout.h"
#include "app/qt/port_combo_box.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QToolBar;

namespace stbup {

class CaptionPanel;

// MainFrm, the tool's one window: every control of the design at its fixed
// place, named as the design names it. The window logic and the handlers are
// attached by MainFrmController; this class is only what the operator sees.
class TMainFrm : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = main_frm_layout::kClientWidth;
  static constexpr int kClientHeight = main_frm_layout::kClientHeight;
  static constexpr int kLeft = main_frm_layout::kLeft;
  static constexpr int kTop = main_frm_layout::kTop;
  // Memo2 keeps at most this many lines, dropping the oldest.
  static constexpr int kMemoLines = 5000;
  // Pixels kept clear between "STB Info ::" and Label3's text.
  static constexpr int kLabelGap = 3;

  explicit TMainFrm(QWidget* parent = nullptr);

  // Window and memo key presses (not those of edits, the combo box or the
  // buttons) go to this handler; the character code, Enter being 13.
  std::function<void(char)> OnKeyPress;
  // The close event: returns false to keep the window open.
  std::function<bool()> OnClose;

  // The design's controls, bottom of the stacking order first.
  CaptionPanel* Panel3 = nullptr;
  QLabel* lblLogoName = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  CaptionPanel* Panel1 = nullptr;
  QLabel* lableDownLoad = nullptr;
  QProgressBar* pb1 = nullptr;
  QLabel* lableFlashWrite = nullptr;
  QProgressBar* pb2 = nullptr;
  QLabel* labelFileSize = nullptr;
  CaptionPanel* Panel2 = nullptr;
  QLabel* Label1 = nullptr;
  QPlainTextEdit* Memo2 = nullptr;
  QToolBar* ToolBar1 = nullptr;
  QPushButton* bbFileOpen = nullptr;
  PortComboBox* cbPort = nullptr;
  QPushButton* bbConnect = nullptr;
  QPushButton* bbExit = nullptr;
  CaptionPanel* Panel4 = nullptr;
  QLabel* lableFileName = nullptr;
  QLineEdit* edFileName = nullptr;
  QLabel* lableHardVer = nullptr;
  QLineEdit* edHV = nullptr;
  QLabel* lableFileType = nullptr;
  QLineEdit* edType = nullptr;
  QLabel* lableModel = nullptr;
  QLineEdit* edModelName = nullptr;
  QLabel* lableSoftVer = nullptr;
  QLineEdit* edSV = nullptr;
  QLabel* lableStartBlock = nullptr;
  QLineEdit* edStartBlock = nullptr;

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildToolBar();
  void BuildPanel3();
  void BuildPanel1();
  void BuildPanel2();
  void BuildPanel4();
  bool DeliverKey(QKeyEvent* event);

  // During a download the bars and amounts change with every block; the
  // window paints what changed at most every kPaintInterval milliseconds:
  // twenty pictures a second look smooth, and each one is CPU time that a
  // box simulated on the same machine waits for.
  static constexpr int kPaintIntervalMs = 50;
  QElapsedTimer since_paint_;
  QTimer deferred_paint_;
};

}  // namespace stbup
