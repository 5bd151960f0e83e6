#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>

#include "app/qt/caption_panel.h"
#include "app/qt/main_frm.h"
#include "app/qt/system_colours.h"
#include "tests/qt/support/qt_printers.h"

namespace stbup {
namespace {

struct ControlRow {
  const char* name;
  const char* kind;  // the Qt class standing for the design's kind
  const char* parent;
  QRect place;  // no height: sized to its caption (and no width: also as wide)
  const char* caption;
};

// The design's layout table, as the operator sees it.
const ControlRow kLayout[] = {
    {"ToolBar1", "QToolBar", "MainFrm", {0, 0, 546, 29}, ""},
    {"bbFileOpen", "QPushButton", "ToolBar1", {0, 2, 113, 21}, "File Open"},
    {"cbPort", "QComboBox", "ToolBar1", {209, 2, 112, 21}, "COM1"},
    {"bbConnect", "QPushButton", "ToolBar1", {321, 2, 88, 21}, "Connected"},
    {"bbExit", "QPushButton", "ToolBar1", {425, 2, 112, 21}, "Exit"},
    {"Panel3", "stbup::CaptionPanel", "MainFrm", {-1, 32, 546, 489}, "Panel3"},
    {"lblLogoName", "QLabel", "Panel3", {1, 1, 545, 97}, "Simple and Speedy"},
    {"Label2", "QLabel", "Panel3", {8, 280, 0, 0}, "STB Info ::"},
    {"Label3", "QLabel", "Panel3", {56, 280, 0, 0}, "???"},
    {"Panel4", "stbup::CaptionPanel", "MainFrm", {0, 133, 545, 98}, ""},
    {"lableFileName", "QLabel", "Panel4", {9, 17, 0, 0}, "File Name"},
    {"edFileName", "QLineEdit", "Panel4", {79, 15, 291, 21}, ""},
    {"lableHardVer", "QLabel", "Panel4", {9, 42, 0, 0}, "Hardware"},
    {"edHV", "QLineEdit", "Panel4", {79, 39, 195, 21}, ""},
    {"lableFileType", "QLabel", "Panel4", {12, 66, 0, 0}, "Type"},
    {"edType", "QLineEdit", "Panel4", {79, 63, 195, 21}, ""},
    {"lableModel", "QLabel", "Panel4", {389, 18, 0, 0}, "Model"},
    {"edModelName", "QLineEdit", "Panel4", {425, 15, 105, 21}, ""},
    {"lableSoftVer", "QLabel", "Panel4", {290, 44, 0, 0}, "Software"},
    {"edSV", "QLineEdit", "Panel4", {350, 39, 180, 21}, ""},
    {"lableStartBlock", "QLabel", "Panel4", {289, 66, 0, 0}, "StartBlock"},
    {"edStartBlock", "QLineEdit", "Panel4", {350, 62, 180, 21}, ""},
    {"Panel1", "stbup::CaptionPanel", "MainFrm", {0, 223, 545, 73}, ""},
    {"lableDownLoad", "QLabel", "Panel1", {16, 20, 0, 0}, "DownLoad"},
    {"pb1", "QProgressBar", "Panel1", {88, 17, 337, 16}, ""},
    {"lableFlashWrite", "QLabel", "Panel1", {16, 44, 0, 0}, "Flash Write"},
    {"pb2", "QProgressBar", "Panel1", {88, 41, 337, 16}, ""},
    {"labelFileSize", "QLabel", "Panel1", {436, 18, 109, 0}, "(  /  )"},
    {"Panel2", "stbup::CaptionPanel", "MainFrm", {0, 352, 545, 177}, ""},
    {"Label1", "QLabel", "Panel2", {8, 24, 0, 0}, "MEMO"},
    {"Memo2", "QPlainTextEdit", "Panel2", {56, 8, 481, 153}, ""},
    {"StatusBar1", "QStatusBar", "MainFrm", {0, 524, 546, 5}, ""},
};

QString CaptionOf(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text();
  if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->currentText();
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
  if (auto* memo = qobject_cast<QPlainTextEdit*>(widget)) return memo->toPlainText();
  if (auto* panel = qobject_cast<CaptionPanel*>(widget)) return panel->Caption();
  return {};
}

QWidget* Find(TMainFrm& frame, const char* name) { return frame.findChild<QWidget*>(name); }

TEST(MainFrmLayout, EveryControlHasItsKindParentPlaceAndCaption) {
  TMainFrm frame;
  for (const ControlRow& row : kLayout) {
    SCOPED_TRACE(row.name);
    QWidget* control = Find(frame, row.name);
    ASSERT_NE(control, nullptr);
    EXPECT_TRUE(control->inherits(row.kind)) << control->metaObject()->className();
    QWidget* parent = control->parentWidget();
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(parent->objectName(), row.parent);
    if (row.place.height() == 0) {
      EXPECT_EQ(control->pos(), row.place.topLeft());
      EXPECT_EQ(control->height(), control->sizeHint().height());
      EXPECT_EQ(control->width(),
                row.place.width() > 0 ? row.place.width() : control->sizeHint().width());
    } else {
      EXPECT_EQ(control->geometry(), row.place);
    }
    EXPECT_EQ(CaptionOf(control), row.caption);
  }
}

TEST(MainFrmLayout, WindowIsFixedWithoutMaximise) {
  TMainFrm frame;
  EXPECT_EQ(frame.size(), QSize(546, 529));
  EXPECT_EQ(frame.minimumSize(), QSize(546, 529));
  EXPECT_EQ(frame.maximumSize(), QSize(546, 529));
  EXPECT_EQ(frame.pos(), QPoint(30, 50));
  const Qt::WindowFlags flags = frame.windowFlags();
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
}

TEST(MainFrmLayout, PortSelectorHoldsTenPortsAndTakesNoFreeText) {
  TMainFrm frame;
  ASSERT_EQ(frame.cbPort->count(), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(frame.cbPort->itemText(i), QString("COM%1").arg(i + 1));
  EXPECT_FALSE(frame.cbPort->isEditable());
}

TEST(MainFrmLayout, StackingOrderBottomToTop) {
  TMainFrm frame;
  QStringList order;
  for (QObject* child : frame.children()) {
    if (child->isWidgetType()) order << child->objectName();
  }
  EXPECT_EQ(order, QStringList({"Panel3", "StatusBar1", "Panel1", "Panel2", "ToolBar1", "Panel4"}));
}

struct FontRow {
  const char* name;
  const char* family;
  QStringList installed;  // what the family may resolve to here
  int pixels;
  bool bold;
  bool italic;
};

TEST(MainFrmLayout, FontsAreTheDesignsOrTheirClosestInstalledFamily) {
  const QStringList sans{"Liberation Sans", "Arimo", "Nimbus Sans", "DejaVu Sans"};
  const FontRow rows[] = {
      {"bbFileOpen", "MS Sans Serif", sans, 11, false, false},
      {"lableFileName", "MS Sans Serif", sans, 11, false, false},
      {"Label3", "Microsoft Sans Serif", sans, 13, true, false},
      {"lblLogoName",
       "Times New Roman",
       {"Liberation Serif", "Tinos", "Nimbus Roman", "DejaVu Serif"},
       53,
       true,
       true},
      {"Memo2",
       "Verdana",
       {"DejaVu Sans", "Bitstream Vera Sans", "Liberation Sans"},
       11,
       false,
       false},
  };
  TMainFrm frame;
  for (const FontRow& row : rows) {
    SCOPED_TRACE(row.name);
    QWidget* control = Find(frame, row.name);
    ASSERT_NE(control, nullptr);
    const QFont font = control->font();
    EXPECT_EQ(font.family(), row.family);
    EXPECT_EQ(font.pixelSize(), row.pixels);
    EXPECT_EQ(font.bold(), row.bold);
    EXPECT_EQ(font.italic(), row.italic);
    const QString resolved = QFontInfo(font).family();
    EXPECT_TRUE(resolved == row.family || row.installed.contains(resolved))
        << resolved.toStdString();
  }
}

TEST(MainFrmLayout, ColoursOfBannerPanelsAndEdits) {
  TMainFrm frame;
  const QColor menu = ToQColor(system_colours::kMenu);
  EXPECT_EQ(frame.lblLogoName->palette().color(QPalette::Window), QColor(128, 128, 128));
  EXPECT_EQ(frame.lblLogoName->palette().color(QPalette::WindowText), QColor(255, 255, 255));
  EXPECT_TRUE(frame.lblLogoName->autoFillBackground());
  for (QWidget* panel : {frame.Panel1, frame.Panel2, frame.Panel4}) {
    EXPECT_EQ(panel->palette().color(QPalette::Window), menu) << panel->objectName().toStdString();
  }
  for (QLineEdit* edit : {frame.edFileName, frame.edHV, frame.edSV, frame.edType, frame.edModelName,
                          frame.edStartBlock}) {
    EXPECT_EQ(edit->palette().color(QPalette::Base), ToQColor(system_colours::kInactiveBorder));
    EXPECT_FALSE(edit->isReadOnly());
  }
  EXPECT_TRUE(frame.Memo2->isReadOnly());
  EXPECT_EQ(frame.Memo2->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(frame.Memo2->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

// Qt's metrics are not the design's: every caption must still fit its place.
TEST(MainFrmLayout, CaptionsFitWithoutClipping) {
  TMainFrm frame;
  struct Neighbours {
    QLabel* label;
    QWidget* next;  // the control right of the label
  };
  const Neighbours pairs[] = {
      {frame.Label2, frame.Label3},
      {frame.lableFileName, frame.edFileName},
      {frame.lableHardVer, frame.edHV},
      {frame.lableFileType, frame.edType},
      {frame.lableModel, frame.edModelName},
      {frame.lableSoftVer, frame.edSV},
      {frame.lableStartBlock, frame.edStartBlock},
      {frame.lableDownLoad, frame.pb1},
      {frame.lableFlashWrite, frame.pb2},
      {frame.Label1, frame.Memo2},
  };
  for (const Neighbours& pair : pairs) {
    SCOPED_TRACE(pair.label->objectName().toStdString());
    EXPECT_LT(pair.label->geometry().right(), pair.next->geometry().left());
  }
  for (QPushButton* button : {frame.bbFileOpen, frame.bbConnect, frame.bbExit}) {
    for (const char* caption : {"File Open", "Connected", "Disconnected", "Exit"}) {
      if (button != frame.bbConnect && QString(caption).contains("onnected")) continue;
      const int width = button->fontMetrics().horizontalAdvance(caption);
      EXPECT_LE(width + 8, button->width()) << caption;
    }
    EXPECT_GE(button->height(), button->fontMetrics().height() + 4);
  }
  // The longest texts the banner and the amounts (an 8 MiB flash) will carry.
  const QFontMetrics logo(frame.lblLogoName->font());
  for (const char* banner : {"Simple and Speedy", "FLASH Write error !", "FLASH writing...!",
                             "UnCompressing...", "Downloading...", "Disconnected !"}) {
    EXPECT_LE(logo.horizontalAdvance(banner), frame.lblLogoName->width()) << banner;
    EXPECT_LE(logo.height(), frame.lblLogoName->height());
  }
  const QFontMetrics amounts(frame.labelFileSize->font());
  EXPECT_LE(frame.labelFileSize->x() + amounts.horizontalAdvance("(8388608 / 8388608)"),
            frame.Panel1->width());
}

}  // namespace
}  // namespace stbup
