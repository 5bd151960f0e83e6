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

#include "app/core/main_frm_layout.h"
#include "app/qt/caption_panel.h"
#include "app/qt/main_frm.h"
#include "app/qt/system_colours.h"
#include "tests/qt/support/qt_printers.h"

namespace stbup {
namespace {

// The Qt class standing for each of the design's kinds.
const char* QtKind(main_frm_layout::Kind kind) {
  using main_frm_layout::Kind;
  switch (kind) {
    case Kind::kToolBar:
      return "QToolBar";
    case Kind::kButton:
      return "QPushButton";
    case Kind::kComboBox:
      return "QComboBox";
    case Kind::kPanel:
      return "stbup::CaptionPanel";
    case Kind::kLabel:
      return "QLabel";
    case Kind::kEdit:
      return "QLineEdit";
    case Kind::kProgressBar:
      return "QProgressBar";
    case Kind::kMemo:
      return "QPlainTextEdit";
    case Kind::kStatusBar:
      return "QStatusBar";
  }
  return "";
}

QString Latin1(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

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
  for (const main_frm_layout::Control& row : main_frm_layout::kControls) {
    const std::string name(row.name);
    SCOPED_TRACE(name);
    QWidget* control = Find(frame, name.c_str());
    ASSERT_NE(control, nullptr);
    EXPECT_TRUE(control->inherits(QtKind(row.kind))) << control->metaObject()->className();
    QWidget* parent = control->parentWidget();
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(parent->objectName(), Latin1(row.parent));
    const QRect place(row.place.left, row.place.top, row.place.width, row.place.height);
    if (place.height() == 0) {
      EXPECT_EQ(control->pos(), place.topLeft());
      EXPECT_EQ(control->height(), control->sizeHint().height());
      EXPECT_EQ(control->width(), place.width() > 0 ? place.width() : control->sizeHint().width());
    } else {
      EXPECT_EQ(control->geometry(), place);
    }
    EXPECT_EQ(CaptionOf(control), Latin1(row.caption));
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
  QStringList design;
  for (std::string_view name : main_frm_layout::kStackingOrder) design << Latin1(name);
  EXPECT_EQ(order, design);
  EXPECT_EQ(design,
            QStringList({"Panel3", "StatusBar1", "Panel1", "Panel2", "ToolBar1", "Panel4"}));
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
