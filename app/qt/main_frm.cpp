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

#include "app/core/main_frm_layout.h"
#include "app/qt/caption_panel.h"
#include "app/qt/fonts.h"
#include "app/qt/port_combo_box.h"
#include "app/qt/system_colours.h"

namespace stbup {

namespace {

// A control's place as the design table has it.
QRect PlaceOf(const char* name) {
  const main_frm_layout::Place place = main_frm_layout::Find(name).place;
  return QRect(place.left, place.top, place.width, place.height);
}

QString CaptionOf(const char* name) {
  const std::string_view caption = main_frm_layout::Find(name).caption;
  return QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size()));
}

void SetBackground(QWidget* widget, Colour colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, ToQColor(colour));
  palette.setColor(QPalette::Button, ToQColor(colour));
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

// A label of the design sized to its caption, as the design's labels are.
QLabel* AddLabel(QWidget* parent, const char* name) {
  auto* label = new QLabel(CaptionOf(name), parent);
  label->setTextFormat(Qt::PlainText);
  label->setObjectName(name);
  label->move(PlaceOf(name).topLeft());
  label->adjustSize();
  return label;
}

QLineEdit* AddEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setGeometry(PlaceOf(name));
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Base, ToQColor(system_colours::kInactiveBorder));
  edit->setPalette(palette);
  return edit;
}

QProgressBar* AddProgressBar(QWidget* parent, const char* name) {
  auto* bar = new QProgressBar(parent);
  bar->setObjectName(name);
  bar->setGeometry(PlaceOf(name));
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  return bar;
}

CaptionPanel* AddPanel(QWidget* parent, const char* name, Colour colour) {
  auto* panel = new CaptionPanel(CaptionOf(name), parent);
  panel->setObjectName(name);
  panel->setGeometry(PlaceOf(name));
  SetBackground(panel, colour);
  return panel;
}

QPushButton* AddButton(QWidget* parent, const char* name) {
  auto* button = new QPushButton(CaptionOf(name), parent);
  button->setObjectName(name);
  button->setGeometry(PlaceOf(name));
  button->setAutoDefault(false);
  return button;
}

}  // namespace

TMainFrm::TMainFrm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName("MainFrm");
  setFixedSize(main_frm_layout::kClientWidth, main_frm_layout::kClientHeight);
  setFont(DesignFont(main_frm_layout::kDefaultFont));
  SetBackground(this, system_colours::kButtonFace);
  setFocusPolicy(Qt::StrongFocus);

  // Built bottom to top: a later sibling covers an earlier one.
  BuildPanel3();
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setGeometry(PlaceOf("StatusBar1"));
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
  ToolBar1->setGeometry(PlaceOf("ToolBar1"));
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  // The tool controls sit at the design's places, with its gaps of 96 pixels
  // after bbFileOpen and 16 after bbConnect, rather than in a toolbar layout.
  bbFileOpen = AddButton(ToolBar1, "bbFileOpen");
  cbPort = new PortComboBox(ToolBar1);
  cbPort->setObjectName("cbPort");
  cbPort->setEditable(false);
  for (int n = 1; n <= 10; ++n) cbPort->addItem(QString("COM%1").arg(n));
  cbPort->setGeometry(PlaceOf("cbPort"));
  bbConnect = AddButton(ToolBar1, "bbConnect");
  bbExit = AddButton(ToolBar1, "bbExit");
}

void TMainFrm::BuildPanel3() {
  Panel3 = AddPanel(this, "Panel3", system_colours::kButtonFace);

  lblLogoName = new QLabel(CaptionOf("lblLogoName"), Panel3);
  lblLogoName->setObjectName("lblLogoName");
  lblLogoName->setTextFormat(Qt::PlainText);
  lblLogoName->setGeometry(PlaceOf("lblLogoName"));
  lblLogoName->setAlignment(Qt::AlignCenter);
  lblLogoName->setFont(DesignFont(main_frm_layout::kLogoFont));
  lblLogoName->setAutoFillBackground(true);
  QPalette logo = lblLogoName->palette();
  logo.setColor(QPalette::Window, ToQColor(main_frm_layout::kLogoBackground));
  logo.setColor(QPalette::WindowText, ToQColor(main_frm_layout::kLogoText));
  lblLogoName->setPalette(logo);
  lblLogoName->hide();  // shown by the start-up

  Label2 = new QLabel(CaptionOf("Label2"), Panel3);
  Label2->setObjectName("Label2");
  Label2->setTextFormat(Qt::PlainText);
  // The design leaves this caption 48 pixels before Label3. The substitute
  // face is wider than the design's: it is narrowed (its height kept) until
  // a gap remains before Label3's text.
  Label2->move(PlaceOf("Label2").topLeft());
  const int room = PlaceOf("Label3").left() - PlaceOf("Label2").left() - kLabelGap;
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
  Label3 = new QLabel(CaptionOf("Label3"), Panel3);
  Label3->setObjectName("Label3");
  Label3->setTextFormat(Qt::PlainText);
  Label3->setFont(DesignFont(main_frm_layout::kLabel3Font));
  Label3->move(PlaceOf("Label3").topLeft());
  Label3->adjustSize();
}

void TMainFrm::BuildPanel1() {
  Panel1 = AddPanel(this, "Panel1", system_colours::kMenu);
  lableDownLoad = AddLabel(Panel1, "lableDownLoad");
  pb1 = AddProgressBar(Panel1, "pb1");
  lableFlashWrite = AddLabel(Panel1, "lableFlashWrite");
  pb2 = AddProgressBar(Panel1, "pb2");
  labelFileSize = AddLabel(Panel1, "labelFileSize");
  // The amounts change with every block: a fixed label as wide as the room to
  // the panel's edge repaints without asking for a new layout, and looks the same.
  labelFileSize->setFixedSize(Panel1->width() - labelFileSize->x(), labelFileSize->height());
}

void TMainFrm::BuildPanel2() {
  Panel2 = AddPanel(this, "Panel2", system_colours::kMenu);
  Label1 = AddLabel(Panel2, "Label1");
  Memo2 = new QPlainTextEdit(Panel2);
  Memo2->setObjectName("Memo2");
  Memo2->setGeometry(PlaceOf("Memo2"));
  Memo2->setReadOnly(true);
  Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo2->setFont(DesignFont(main_frm_layout::kMemoFont));
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
  Panel4 = AddPanel(this, "Panel4", system_colours::kMenu);
  lableFileName = AddLabel(Panel4, "lableFileName");
  edFileName = AddEdit(Panel4, "edFileName");
  lableHardVer = AddLabel(Panel4, "lableHardVer");
  edHV = AddEdit(Panel4, "edHV");
  lableFileType = AddLabel(Panel4, "lableFileType");
  edType = AddEdit(Panel4, "edType");
  lableModel = AddLabel(Panel4, "lableModel");
  edModelName = AddEdit(Panel4, "edModelName");
  lableSoftVer = AddLabel(Panel4, "lableSoftVer");
  edSV = AddEdit(Panel4, "edSV");
  lableStartBlock = AddLabel(Panel4, "lableStartBlock");
  edStartBlock = AddEdit(Panel4, "edStartBlock");
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
