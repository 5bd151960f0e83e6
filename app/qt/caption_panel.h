#pragma once

#include <QFrame>
#include <QString>

namespace stbup {

// A panel of the design: a raised frame that shows its caption centred
// beneath whatever it holds.
class CaptionPanel : public QFrame {
  Q_OBJECT

 public:
  explicit CaptionPanel(const QString& caption, QWidget* parent = nullptr);

  QString Caption() const { return caption_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString caption_;
};

}  // namespace stbup
