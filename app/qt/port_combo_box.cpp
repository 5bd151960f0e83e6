#include "app/qt/port_combo_box.h"

#include <QAbstractItemView>

namespace stbup {

void PortComboBox::showPopup() {
  if (OnPopup) OnPopup();
  // The list may be wider than the selector: device names are long.
  view()->setMinimumWidth(view()->sizeHintForColumn(0) + 8);
  QComboBox::showPopup();
}

}  // namespace stbup
