#include "app/qt/caption_panel.h"

#include <QPainter>

namespace stbup {

CaptionPanel::CaptionPanel(const QString& caption, QWidget* parent)
    : QFrame(parent), caption_(caption) {
  setFrameStyle(QFrame::Panel | QFrame::Raised);
  setLineWidth(1);
  setAutoFillBackground(true);
}

void CaptionPanel::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  if (caption_.isEmpty()) return;
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(contentsRect(), Qt::AlignCenter, caption_);
}

}  // namespace stbup
