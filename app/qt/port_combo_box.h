#pragma once

#include <QComboBox>
#include <functional>

namespace stbup {

// cbPort: a drop-down list that asks for its items anew each time the
// operator opens it, so an adapter plugged in after start-up is offered.
class PortComboBox : public QComboBox {
  Q_OBJECT

 public:
  using QComboBox::QComboBox;

  std::function<void()> OnPopup;

  void showPopup() override;
};

}  // namespace stbup
