#include "app/qt/form_view.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include "app/qt/dialogs.h"
#include "app/qt/main_frm.h"
#include "tests/qt/support/qt_printers.h"
#include "tests/qt/support/scripted_dialogs.h"

namespace stbup {
namespace {

class FormViewTest : public testing::Test {
 protected:
  TMainFrm frame;
  ScriptedDialogs dialogs;
  FormView view{frame, dialogs};

  QColor Colour(QWidget* widget, QPalette::ColorRole role) { return widget->palette().color(role); }
};

TEST_F(FormViewTest, MemoLinesAreBytesShownAsLatin1) {
  view.AddMemoLine("[ Upgrade mode. ]");
  view.AddMemoLine("");
  view.AddMemoLine(std::string_view("\x80\xE9\xFF<b>x</b>", 11));
  const QStringList lines = frame.Memo2->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[0], "[ Upgrade mode. ]");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], QString::fromUtf8("\u0080\u00E9\u00FF<b>x</b>"));
  view.ClearMemo();
  EXPECT_TRUE(frame.Memo2->toPlainText().isEmpty());
}

TEST_F(FormViewTest, MemoColourColoursTheWholeLog) {
  view.AddMemoLine("File open error");
  view.SetMemoColour(colours::kRed);
  EXPECT_EQ(Colour(frame.Memo2, QPalette::Text), QColor(255, 0, 0));
}

TEST_F(FormViewTest, Label3CaptionAndColourReadBackAsBytes) {
  const std::string caption("L 217, u-C[0] \xB5", 15);
  view.SetLabel3(caption, colours::kBlue);
  EXPECT_EQ(view.Label3Caption(), caption);
  EXPECT_EQ(Colour(frame.Label3, QPalette::WindowText), QColor(0, 0, 255));
  EXPECT_EQ(frame.Label3->size(), frame.Label3->sizeHint());
}

TEST_F(FormViewTest, BannerPartsLeftEmptyKeepTheirValue) {
  EXPECT_FALSE(frame.lblLogoName->isVisibleTo(&frame));
  view.SetLogo("Downloading...", colours::kBlack, colours::kAqua);
  EXPECT_TRUE(frame.lblLogoName->isVisibleTo(&frame));
  view.SetLogo("FLASH writing...!", std::nullopt, colours::kRed);
  EXPECT_EQ(frame.lblLogoName->text(), "FLASH writing...!");
  EXPECT_EQ(Colour(frame.lblLogoName, QPalette::WindowText), QColor(0, 0, 0));
  EXPECT_EQ(Colour(frame.lblLogoName, QPalette::Window), QColor(255, 0, 0));
  view.SetLogo(std::nullopt, colours::kWhite, std::nullopt);
  EXPECT_EQ(frame.lblLogoName->text(), "FLASH writing...!");
  EXPECT_EQ(Colour(frame.lblLogoName, QPalette::WindowText), QColor(255, 255, 255));
  EXPECT_EQ(Colour(frame.lblLogoName, QPalette::Window), QColor(255, 0, 0));
}

TEST_F(FormViewTest, BarsAmountsConnectButtonAndSetupControls) {
  view.SetProgress(ProgressBar::kPb1, 37);
  view.SetProgress(ProgressBar::kPb2, 150);
  EXPECT_EQ(frame.pb1->value(), 37);
  EXPECT_EQ(frame.pb2->value(), 100);
  view.SetFileSize("(1024 / 786432)");
  EXPECT_EQ(frame.labelFileSize->text(), "(1024 / 786432)");
  EXPECT_GE(frame.labelFileSize->width(), frame.labelFileSize->sizeHint().width());

  frame.show();
  view.ShowConnect(false, "Connected");
  EXPECT_FALSE(frame.bbConnect->isVisible());
  view.ShowConnect(true, "Disconnected");
  EXPECT_TRUE(frame.bbConnect->isVisible());
  EXPECT_EQ(frame.bbConnect->text(), "Disconnected");

  view.EnableSetupControls(false);
  for (QWidget* control :
       {static_cast<QWidget*>(frame.cbPort), static_cast<QWidget*>(frame.bbFileOpen),
        static_cast<QWidget*>(frame.bbExit)}) {
    EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
  }
  EXPECT_TRUE(frame.bbConnect->isEnabled());
  view.EnableSetupControls(true);
  EXPECT_TRUE(frame.cbPort->isEnabled() && frame.bbFileOpen->isEnabled() &&
              frame.bbExit->isEnabled());
}

TEST_F(FormViewTest, EditsAreWrittenAndReadBack) {
  const std::pair<Edit, QLineEdit*> edits[] = {
      {Edit::kFileName, frame.edFileName},
      {Edit::kModelName, frame.edModelName},
      {Edit::kHV, frame.edHV},
      {Edit::kSV, frame.edSV},
      {Edit::kType, frame.edType},
      {Edit::kStartBlock, frame.edStartBlock},
  };
  for (const auto& [edit, control] : edits) {
    const std::string text = "v\xE4 " + control->objectName().toStdString();
    view.SetEdit(edit, text);
    EXPECT_EQ(view.EditText(edit), text);
  }
  // What the operator types is what the block sender reads back.
  frame.edModelName->setText("SL2M2");
  EXPECT_EQ(view.EditText(Edit::kModelName), "SL2M2");
  frame.edType->setText(QString::fromUtf8("\u20AC"));
  EXPECT_EQ(view.EditText(Edit::kType), "?");
}

TEST_F(FormViewTest, TheImagePathIsShownAsTheFileSystemSpellsIt) {
  // A UTF-8 name shows its letters, and the load reads the same bytes back.
  const std::string utf8 =
      "/home/op/Pr\xC3\xBC"
      "fstand K\xC3\xB6ln/B\xC3\xB6x.bin";
  view.SetEdit(Edit::kFileName, utf8);
  EXPECT_EQ(frame.edFileName->text(),
            QString::fromUtf8("/home/op/Pr\u00FCfstand K\u00F6ln/B\u00F6x.bin"));
  EXPECT_EQ(view.EditText(Edit::kFileName), utf8);
  // A name the operator types is read back in the file system's encoding.
  frame.edFileName->setText(QString::fromUtf8("/m\u00FCll.bin"));
  EXPECT_EQ(view.EditText(Edit::kFileName), "/m\xC3\xBCll.bin");
}

TEST_F(FormViewTest, TheMemoKeepsTheLastLinesOnly) {
  const int lines = TMainFrm::kMemoLines + 700;
  for (int i = 0; i < lines; ++i) view.AddMemoLine("line " + std::to_string(i));
  const QStringList shown = frame.Memo2->toPlainText().split('\n');
  ASSERT_EQ(shown.size(), TMainFrm::kMemoLines);
  EXPECT_EQ(shown.front(), QString("line %1").arg(lines - TMainFrm::kMemoLines));
  EXPECT_EQ(shown.back(), QString("line %1").arg(lines - 1));
}

TEST_F(FormViewTest, STBInfoLeavesAGapBeforeLabel3sText) {
  const int right = frame.Label2->x() +
                    QFontMetrics(frame.Label2->font()).horizontalAdvance(frame.Label2->text());
  EXPECT_LE(right, frame.Label3->x() - TMainFrm::kLabelGap);
  EXPECT_EQ(frame.Label2->text(), "STB Info ::");
  EXPECT_EQ(frame.Label2->font().pixelSize(), frame.font().pixelSize());  // not shrunk
}

TEST(ErrorBox, EndsTheTextWithAFullStopAsTheFrameworkDoes) {
  EXPECT_EQ(ModalDialogs::ErrorBoxText("'12x' is not a valid integer value"),
            "'12x' is not a valid integer value.");
  EXPECT_EQ(ModalDialogs::ErrorBoxText("Specified device not found (/dev/x)."),
            "Specified device not found (/dev/x).");
  EXPECT_EQ(ModalDialogs::ErrorBoxText("Output buffer is full!"), "Output buffer is full!");
  EXPECT_EQ(ModalDialogs::ErrorBoxText(""), "");
}

}  // namespace
}  // namespace stbup
