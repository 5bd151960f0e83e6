#include "serial/va_classes.h"

#include "serial/va_comm_error.h"

namespace stbup {

void TVaPersistent::EndUpdate() {
  if (UpdateDepth > 0) --UpdateDepth;
  Changed();
}

void TVaPersistent::Assign(const TVaPersistent& /*source*/) {
  throw EVaCommError("Cannot assign settings of another kind");
}

void TVaPersistent::Changed() {
  if (UpdateDepth == 0 && OnChange) OnChange(*this);
}

}  // namespace stbup
