#include "app/qt/form_view.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <algorithm>

#include "app/qt/dialogs.h"
#include "app/qt/main_frm.h"
#include "app/qt/system_colours.h"

namespace stbup {

namespace {

void SetPaletteColour(QWidget* widget, QPalette::ColorRole role, Colour colour) {
  QPalette palette = widget->palette();
  palette.setColor(role, ToQColor(colour));
  widget->setPalette(palette);
}

}  // namespace

FormView::FormView(TMainFrm& frame, Dialogs& dialogs) : frame_(frame), dialogs_(dialogs) {}

QString FormView::FromBytes(std::string_view bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string FormView::ToBytes(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void FormView::AddMemoLine(std::string_view line) {
  // One line per call, even when the text holds line breaks of its own.
  frame_.Memo2->appendPlainText(FromBytes(line));
  frame_.Memo2->verticalScrollBar()->setValue(frame_.Memo2->verticalScrollBar()->maximum());
}

void FormView::ClearMemo() { frame_.Memo2->clear(); }

void FormView::SetMemoColour(Colour colour) {
  SetPaletteColour(frame_.Memo2, QPalette::Text, colour);
}

std::string FormView::Label3Caption() const { return ToBytes(frame_.Label3->text()); }

void FormView::SetLabel3(std::string_view caption, Colour colour) {
  frame_.Label3->setText(FromBytes(caption));
  SetPaletteColour(frame_.Label3, QPalette::WindowText, colour);
  frame_.Label3->adjustSize();
}

void FormView::SetLogo(std::optional<std::string_view> caption, std::optional<Colour> text,
                       std::optional<Colour> background) {
  QLabel* logo = frame_.lblLogoName;
  if (caption) logo->setText(FromBytes(*caption));
  if (text) SetPaletteColour(logo, QPalette::WindowText, *text);
  if (background) SetPaletteColour(logo, QPalette::Window, *background);
  // Hidden only in the design: the first banner the window sets shows it.
  logo->show();
}

void FormView::SetProgress(ProgressBar bar, int percent) {
  QProgressBar* target = bar == ProgressBar::kPb1 ? frame_.pb1 : frame_.pb2;
  const int value = std::clamp(percent, target->minimum(), target->maximum());
  if (value == target->value()) return;
  // A bar repaints itself at once when its value moves; held back, it is
  // painted with the rest of the window instead.
  target->setUpdatesEnabled(false);
  target->setValue(value);
  target->setUpdatesEnabled(true);
}

void FormView::SetFileSize(std::string_view text) {
  frame_.labelFileSize->setText(FromBytes(text));
}

void FormView::ShowConnect(bool visible, std::string_view caption) {
  frame_.bbConnect->setText(FromBytes(caption));
  frame_.bbConnect->setVisible(visible);
}

void FormView::EnableSetupControls(bool enabled) {
  // A disabled control passes the focus to the next one in the chain, an
  // edit: Enter would then do nothing and a stray key would overwrite the
  // image path. The window itself takes it instead, so Enter still works.
  if (!enabled) {
    QWidget* focus = frame_.focusWidget();
    if (focus == frame_.cbPort || focus == frame_.bbFileOpen || focus == frame_.bbExit) {
      frame_.setFocus(Qt::OtherFocusReason);
    }
  }
  frame_.cbPort->setEnabled(enabled);
  frame_.bbFileOpen->setEnabled(enabled);
  frame_.bbExit->setEnabled(enabled);
}

QLineEdit* FormView::EditOf(Edit edit) const {
  switch (edit) {
    case Edit::kFileName:
      return frame_.edFileName;
    case Edit::kModelName:
      return frame_.edModelName;
    case Edit::kHV:
      return frame_.edHV;
    case Edit::kSV:
      return frame_.edSV;
    case Edit::kType:
      return frame_.edType;
    case Edit::kStartBlock:
      return frame_.edStartBlock;
  }
  return frame_.edFileName;
}

void FormView::SetEdit(Edit edit, std::string_view text) {
  QLineEdit* target = EditOf(edit);
  if (edit == Edit::kFileName) {
    // Shown as the file system spells it (UTF-8); a name in another
    // encoding is shown byte by byte rather than with replacement marks.
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    const QString decoded = QFile::decodeName(bytes);
    file_name_bytes_ = std::string(text);
    file_name_shown_ = QFile::encodeName(decoded) == bytes ? decoded : FromBytes(text);
    target->setText(file_name_shown_);
  } else {
    target->setText(FromBytes(text));
  }
  target->setCursorPosition(0);
}

std::string FormView::EditText(Edit edit) const {
  if (edit == Edit::kFileName) {
    const QString shown = frame_.edFileName->text();
    if (shown == file_name_shown_) return file_name_bytes_;
    return QFile::encodeName(shown).toStdString();
  }
  return ToBytes(EditOf(edit)->text());
}

void FormView::ShowMessage(std::string_view text) { dialogs_.Message(&frame_, FromBytes(text)); }

void FormView::ReportError(std::string_view text) { dialogs_.Error(&frame_, FromBytes(text)); }

void FormView::Beep() { QApplication::beep(); }

}  // namespace stbup
