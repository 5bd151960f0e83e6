#include "cli/doctor_command.h"

#include <memory>

#include "cli/ini_ports.h"
#include "cli/posix/doctor_checks.h"
#include "cli/posix/doctor_report.h"
#include "records/records.h"

namespace stbup {

DoctorChecks LinuxDoctorChecks(const DoctorSystem& system, const DoctorOptions& options) {
  // One check per thing looked at, each in a file of its own; a check that
  // needs an option of the command takes it from `options` when it is made.
  DoctorChecks checks;
  checks.push_back(MakePortAccessCheck(system));
  checks.push_back(MakePortHolderCheck(system));
  checks.push_back(MakeModemManagerCheck(system));
  checks.push_back(MakeBrlttyCheck(system));
  checks.push_back(MakeLatencyTimerCheck(system));
  checks.push_back(MakeRecordsFileCheck(system, options.records_file));
  return checks;
}

int RunDoctor(const DoctorOptions& options, CommandIo& io) {
  DoctorSystem system;
  if (!options.root.empty()) system.roots = SystemRoots::Under(options.root);
  system.who = LoginIdentity::OfThisProcess();
  system.accounts = AccountDatabase(system.roots.etc);
  if (options.port.empty()) {
    system.ports = PortsFound(system.roots);
  } else {
    std::optional<std::string> device;
    try {
      device = PortNameNeedsMap(options.port)
                   ? ResolvePortName(options.port, ReadPortMap(SettingsFilePath()))
                   : ResolvePortName(options.port, {});
    } catch (const SettingsFileError& error) {
      PrintError(io.err, error.what());
      return kExitDoctorTodo;
    }
    // Any other name is a path relative to the folder stbup was started in.
    system.ports.push_back(DescribePort(device.value_or(options.port), system.roots));
  }
  DoctorOptions looked_at = options;
  if (looked_at.records_file.empty()) looked_at.records_file = DefaultRecordsPath();
  return ReportDoctorChecks(LinuxDoctorChecks(system, looked_at), options.json, io.out);
}

void AddDoctorCommand(CommandRegistry& registry) {
  auto options = std::make_shared<DoctorOptions>();
  CLI::App* sub = registry.Add("doctor",
                               "Look at what keeps a first connection from working, and say "
                               "what to do",
                               [options](CommandIo& io) { return RunDoctor(*options, io); });
  sub->add_option("--port", options->port,
                  "The port to look at: a device path or COMn (default: the USB serial adapters "
                  "found, else every serial device)");
  sub->add_flag("--json", options->json, "Write the findings as one JSON object");
  sub->add_option("--records", options->records_file,
                  "The records file to look at (default: $STBUP_RECORDS, else "
                  "stbup/records.sqlite3 under $XDG_DATA_HOME or ~/.local/share)");
  sub->add_option("--root", options->root,
                  "Read the system under this folder (ROOT/sys, ROOT/dev, ROOT/proc, ROOT/etc, "
                  "ROOT/run, ROOT/usr/lib) instead of /, to try the checks on a stand-in tree");
  sub->footer(
      "Looks at: whether this user may open the port (its owner, group and mode, the group to "
      "join, a group joined but not yet in this login), a program holding it, ModemManager, "
      "brltty's udev rule for CH340 and CP210x adapters, an FTDI adapter's latency timer, and "
      "the records file. Each finding is ok, TODO (with what to do) or note.\n"
      "Exit status: 0 nothing needs doing, 1 something does.");
}

}  // namespace stbup
