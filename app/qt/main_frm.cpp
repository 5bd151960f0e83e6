#include "app/qt/main_frm.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>

#include "app/qt/caption_panel.h"
#include "app/qt/fonts.h"
#include "app/qt/port_combo_box.h"
#include "app/qt/system_colours.h"

namespace stbup {

namespace {

void SetBackground(QWidget* widget, Colour colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, ToQColor(colour));
  palette.setColor(QPalette::Button, ToQColor(colour));
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

// A label of the design sized to its caption, as the design's labels are.
QLabel* AddLabel(QWidget* parent, const char* name, const QString& caption, int left, int top) {
  auto* label = new QLabel(caption, parent);
  label->setTextFormat(Qt::PlainText);
  label->setObjectName(name);
  label->move(left, top);
  label->adjustSize();
  return label;
}

QLineEdit* AddEdit(QWidget* parent, const char* name, const QRect& place) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setGeometry(place);
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Base, ToQColor(system_colours::kInactiveBorder));
  edit->setPalette(palette);
  return edit;
}

QProgressBar* AddProgressBar(QWidget* parent, const char* name, const QRect& place) {
  auto* bar = new QProgressBar(parent);
  bar->setObjectName(name);
  bar->setGeometry(place);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  return bar;
}

CaptionPanel* AddPanel(QWidget* parent, const char* name, const QString& caption,
                       const QRect& place, Colour colour) {
  auto* panel = new CaptionPanel(caption, parent);
  panel->setObjectName(name);
  panel->setGeometry(place);
  SetBackground(panel, colour);
  return panel;
}

QPushButton* AddButton(QWidget* parent, const char* name, const QString& caption,
                       const QRect& place) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setGeometry(place);
  button->setAutoDefault(false);
  return button;
}

}  // namespace

TMainFrm::TMainFrm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName("MainFrm");
  setFixedSize(kClientWidth, kClientHeight);
  setFont(DesignFont("MS Sans Serif", design_fonts::kDefaultPixels));
  SetBackground(this, system_colours::kButtonFace);
  setFocusPolicy(Qt::StrongFocus);

  // Built bottom to top: a later sibling covers an earlier one.
  BuildPanel3();
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setGeometry(0, 524, 546, 5);
  BuildPanel1();
  BuildPanel2();
  BuildToolBar();
  BuildPanel4();
  for (QWidget* widget : {static_cast<QWidget*>(Panel3), static_cast<QWidget*>(StatusBar1),
                          static_cast<QWidget*>(Panel1), static_cast<QWidget*>(Panel2),
                          static_cast<QWidget*>(ToolBar1), static_cast<QWidget*>(Panel4)}) {
    widget->raise();
  }

  Memo2->installEventFilter(this);
  move(kLeft, kTop);

  deferred_paint_.setSingleShot(true);
  connect(&deferred_paint_, &QTimer::timeout, this, [this] {
    QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
  });
}

bool TMainFrm::event(QEvent* event) {
  if (event->type() == QEvent::UpdateRequest) {
    // Values are set at once; only their pixels wait for the next paint.
    if (since_paint_.isValid() && since_paint_.elapsed() < kPaintIntervalMs) {
      if (!deferred_paint_.isActive()) {
        deferred_paint_.start(kPaintIntervalMs - static_cast<int>(since_paint_.elapsed()));
      }
      return true;
    }
    since_paint_.start();
  }
  return QWidget::event(event);
}

void TMainFrm::BuildToolBar() {
  ToolBar1 = new QToolBar(this);
  ToolBar1->setObjectName("ToolBar1");
  ToolBar1->setGeometry(0, 0, 546, 29);
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  // The tool controls sit at the design's places, with its gaps of 96 pixels
  // after bbFileOpen and 16 after bbConnect, rather than in a toolbar layout.
  bbFileOpen = AddButton(ToolBar1, "bbFileOpen", "File Open", QRect(0, 2, 113, 21));
  cbPort = new PortComboBox(ToolBar1);
  cbPort->setObjectName("cbPort");
  cbPort->setEditable(false);
  for (int n = 1; n <= 10; ++n) cbPort->addItem(QString("COM%1").arg(n));
  cbPort->setGeometry(209, 2, 112, 21);
  bbConnect = AddButton(ToolBar1, "bbConnect", "Connected", QRect(321, 2, 88, 21));
  bbExit = AddButton(ToolBar1, "bbExit", "Exit", QRect(425, 2, 112, 21));
}

void TMainFrm::BuildPanel3() {
  Panel3 = AddPanel(this, "Panel3", "Panel3", QRect(-1, 32, 546, 489), system_colours::kButtonFace);

  lblLogoName = new QLabel("Simple and Speedy", Panel3);
  lblLogoName->setObjectName("lblLogoName");
  lblLogoName->setTextFormat(Qt::PlainText);
  lblLogoName->setGeometry(1, 1, 545, 97);
  lblLogoName->setAlignment(Qt::AlignCenter);
  lblLogoName->setFont(DesignFont("Times New Roman", design_fonts::kLogoPixels, true, true));
  lblLogoName->setAutoFillBackground(true);
  QPalette logo = lblLogoName->palette();
  logo.setColor(QPalette::Window, ToQColor(colours::kGrey));
  logo.setColor(QPalette::WindowText, ToQColor(colours::kButtonHighlight));
  lblLogoName->setPalette(logo);
  lblLogoName->hide();  // shown by the start-up

  Label2 = new QLabel("STB Info ::", Panel3);
  Label2->setObjectName("Label2");
  Label2->setTextFormat(Qt::PlainText);
  // The design leaves this caption 48 pixels before Label3. The substitute
  // face is wider than the design's: it is narrowed (its height kept) until
  // a gap remains before Label3's text.
  Label2->move(8, 280);
  const int room = 56 - 8 - kLabelGap;
  QFont narrow = font();
  for (int stretch = 100; stretch >= 70; stretch -= 5) {
    narrow.setStretch(stretch);
    if (QFontMetrics(narrow).horizontalAdvance(Label2->text()) <= room) break;
  }
  for (int spacing = 98;
       QFontMetrics(narrow).horizontalAdvance(Label2->text()) > room && spacing >= 80;
       spacing -= 2) {
    narrow.setLetterSpacing(QFont::PercentageSpacing, spacing);
  }
  Label2->setFont(narrow);
  Label2->adjustSize();
  Label3 = new QLabel("???", Panel3);
  Label3->setObjectName("Label3");
  Label3->setTextFormat(Qt::PlainText);
  Label3->setFont(DesignFont("Microsoft Sans Serif", design_fonts::kLabel3Pixels, true));
  Label3->move(56, 280);
  Label3->adjustSize();
}

void TMainFrm::BuildPanel1() {
  Panel1 = AddPanel(this, "Panel1", "", QRect(0, 223, 545, 73), system_colours::kMenu);
  lableDownLoad = AddLabel(Panel1, "lableDownLoad", "DownLoad", 16, 20);
  pb1 = AddProgressBar(Panel1, "pb1", QRect(88, 17, 337, 16));
  lableFlashWrite = AddLabel(Panel1, "lableFlashWrite", "Flash Write", 16, 44);
  pb2 = AddProgressBar(Panel1, "pb2", QRect(88, 41, 337, 16));
  labelFileSize = AddLabel(Panel1, "labelFileSize", "(  /  )", 436, 18);
  // The amounts change with every block: a fixed label as wide as the room to
  // the panel's edge repaints without asking for a new layout, and looks the same.
  labelFileSize->setFixedSize(Panel1->width() - labelFileSize->x(), labelFileSize->height());
}

void TMainFrm::BuildPanel2() {
  Panel2 = AddPanel(this, "Panel2", "", QRect(0, 352, 545, 177), system_colours::kMenu);
  Label1 = AddLabel(Panel2, "Label1", "MEMO", 8, 24);
  Memo2 = new QPlainTextEdit(Panel2);
  Memo2->setObjectName("Memo2");
  Memo2->setGeometry(56, 8, 481, 153);
  Memo2->setReadOnly(true);
  Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo2->setFont(DesignFont("Verdana", design_fonts::kMemoPixels));
  Memo2->setUndoRedoEnabled(false);
  // A box flooding lines must not grow the window without bound: the oldest
  // lines go first.
  Memo2->setMaximumBlockCount(kMemoLines);
  // The log never changes colour line by line: one text colour for it all.
  QPalette palette = Memo2->palette();
  palette.setColor(QPalette::Base, ToQColor(system_colours::kWindow));
  palette.setColor(QPalette::Text, ToQColor(colours::kWindowText));
  Memo2->setPalette(palette);
}

void TMainFrm::BuildPanel4() {
  Panel4 = AddPanel(this, "Panel4", "", QRect(0, 133, 545, 98), system_colours::kMenu);
  lableFileName = AddLabel(Panel4, "lableFileName", "File Name", 9, 17);
  edFileName = AddEdit(Panel4, "edFileName", QRect(79, 15, 291, 21));
  lableHardVer = AddLabel(Panel4, "lableHardVer", "Hardware", 9, 42);
  edHV = AddEdit(Panel4, "edHV", QRect(79, 39, 195, 21));
  lableFileType = AddLabel(Panel4, "lableFileType", "Type", 12, 66);
  edType = AddEdit(Panel4, "edType", QRect(79, 63, 195, 21));
  lableModel = AddLabel(Panel4, "lableModel", "Model", 389, 18);
  edModelName = AddEdit(Panel4, "edModelName", QRect(425, 15, 105, 21));
  lableSoftVer = AddLabel(Panel4, "lableSoftVer", "Software", 290, 44);
  edSV = AddEdit(Panel4, "edSV", QRect(350, 39, 180, 21));
  lableStartBlock = AddLabel(Panel4, "lableStartBlock", "StartBlock", 289, 66);
  edStartBlock = AddEdit(Panel4, "edStartBlock", QRect(350, 62, 180, 21));
}

bool TMainFrm::DeliverKey(QKeyEvent* event) {
  const QString text = event->text();
  if (text.isEmpty() || !OnKeyPress) return false;
  const QChar character = text.front();
  if (character.unicode() > 0xFF) return false;
  OnKeyPress(static_cast<char>(character.unicode()));
  return true;
}

void TMainFrm::keyPressEvent(QKeyEvent* event) {
  // Keys the edits, the combo box and the buttons did not take travel up to
  // the window; only those pressed in the window itself are its own, except
  // Enter, which none of them uses: it reconnects whatever has the focus.
  QWidget* focus = focusWidget();
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if ((enter || focus == nullptr || focus == this) && DeliverKey(event)) return;
  QWidget::keyPressEvent(event);
}

bool TMainFrm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Memo2 && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    // Enter is delivered here once; the read-only memo would pass it on to
    // the window, which delivers Enter from anywhere.
    if (DeliverKey(key) && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TMainFrm::closeEvent(QCloseEvent* event) {
  if (OnClose && !OnClose()) {
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace stbup
