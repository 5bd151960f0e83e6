#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/doctor_check.h"
#include "cli/doctor_command.h"
#include "cli/posix/doctor_system.h"

namespace stbup {

// What the Linux checks read. The checks keep a reference to it: it outlives
// them.
struct DoctorSystem {
  SystemRoots roots;
  LoginIdentity who;
  AccountDatabase accounts{"/etc"};
  std::vector<DoctorPort> ports;  // the port given, else the ones found
};

// Whether this user may open each port, and if not why and what to do.
std::unique_ptr<DoctorCheck> MakePortAccessCheck(const DoctorSystem& system);
// A process holding a port open.
std::unique_ptr<DoctorCheck> MakePortHolderCheck(const DoctorSystem& system);
// ModemManager running, and whether it leaves the USB adapters alone.
std::unique_ptr<DoctorCheck> MakeModemManagerCheck(const DoctorSystem& system);
// brltty's udev rule taking CH340/CH341 and CP210x adapters as braille displays.
std::unique_ptr<DoctorCheck> MakeBrlttyCheck(const DoctorSystem& system);
// An FTDI adapter's latency timer.
std::unique_ptr<DoctorCheck> MakeLatencyTimerCheck(const DoctorSystem& system);
// Where the records go and whether they can be written there; an empty path
// when no records file can be found.
std::unique_ptr<DoctorCheck> MakeRecordsFileCheck(const DoctorSystem& system,
                                                  std::string records_path);

// Every check, in the order the report gives them; options.records_file is
// the records file to look at (empty: none can be found).
DoctorChecks LinuxDoctorChecks(const DoctorSystem& system, const DoctorOptions& options);

// Advice shared by the checks that stbup's udev rule settles.
inline constexpr const char* kInstallUdevRule =
    "install stbup's udev rule (/usr/lib/udev/rules.d/60-stbup-serial.rules, in the stbup "
    "package) and plug the adapter in again";

}  // namespace stbup
