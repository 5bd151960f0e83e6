// Windows: COM names are the ports Windows knows; nothing maps them.
#include "app/core/main_window.h"
#include "cli/ports_command.h"
#include "seams/exit_status.h"

namespace stbup {

int ListPortSettings(const PortsOptions&, std::ostream& out) {
  out << "\nCOM names are the ports Windows knows. The port chosen last is kept in the "
         "registry: HKEY_CURRENT_USER"
      << MainWindow::kKeyPath << " (read from HKEY_LOCAL_MACHINE" << MainWindow::kKeyPath
      << " when the user has none)\n";
  return kExitOk;
}

}  // namespace stbup
