#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/adapter_latency.h"
#include "serial/serial_ports.h"

namespace stbup {

// The doctor's view of a Linux system. Everything is read under these
// folders, so tests (and `stbup doctor --root`) can give a stand-in tree.
struct SystemRoots {
  std::filesystem::path sysfs = "/sys";
  std::filesystem::path dev = "/dev";
  std::filesystem::path proc = "/proc";
  std::filesystem::path etc = "/etc";  // passwd, group, udev/rules.d
  std::filesystem::path run = "/run";  // udev/data, udev/rules.d
  // Where packages put udev rules: usr/lib, then lib on systems not merged.
  std::vector<std::filesystem::path> lib = {"/usr/lib", "/lib"};

  // The same layout under one folder: ROOT/sys, ROOT/dev, ...
  static SystemRoots Under(const std::filesystem::path& root);
};

// Who is asking: the process's user and the groups this login has (which
// the group database may since have changed).
struct LoginIdentity {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;  // supplementary groups

  static LoginIdentity OfThisProcess();
  bool Has(gid_t group) const;
};

// Whether the kernel would let `who` open a file of this owner, group and
// mode for `access` (a mask of R_OK, W_OK, X_OK): the owner's bits for its
// owner, else the group's for a member, else the others'; root may always.
bool MayAccess(const struct stat& info, const LoginIdentity& who, int access);

// "crw-rw----", as ls shows it.
std::string ModeText(mode_t mode);

// The user and group databases as files under the /etc root. For the
// system's own /etc, users and groups the files lack (a directory service's)
// are asked of the system too.
class AccountDatabase {
 public:
  explicit AccountDatabase(const std::filesystem::path& etc_root);

  // The name, or the number when the database has none.
  std::string UserName(uid_t uid) const;
  std::string GroupName(gid_t gid) const;
  bool KnowsUser(uid_t uid) const;
  // Whether the database gives the user the group: as its primary group or
  // as a member.
  bool GrantsGroup(uid_t uid, gid_t gid) const;

 private:
  struct User {
    std::string name;
    gid_t primary_group = 0;
  };
  struct Group {
    std::string name;
    std::vector<std::string> members;
  };
  const User* FindUser(uid_t uid) const;

  mutable std::map<uid_t, User> users_;  // also those the system was asked for
  std::map<gid_t, Group> groups_;
  bool ask_system_ = false;
};

// A serial port the doctor looks at. `info.name` is empty when sysfs does
// not know the device (a path that does not exist, a pseudo-terminal).
struct DoctorPort {
  std::string device;  // as given, or as found under the /dev root
  SerialPortInfo info;
  std::string dev_number;  // "188:0", from sysfs
};

// The port named with --port, resolved to its sysfs entry where it has one.
DoctorPort DescribePort(const std::string& device, const SystemRoots& roots);

// Without --port: the USB serial adapters found, else every serial device
// found (a built-in ttyS0).
std::vector<DoctorPort> PortsFound(const SystemRoots& roots);

// The common USB serial bridge an adapter is built on, by its USB ids:
// "FTDI", "CP210x", "CH340", "CH341", "PL2303"; empty for any other.
std::string AdapterKind(std::string_view usb_vendor, std::string_view usb_product);

// "/dev/ttyUSB0 (FTDI 0403:6001)", or the device alone off USB.
std::string PortTitle(const DoctorPort& port);

// Whether a process of that name (as /proc/PID/comm has it) runs.
bool ProcessRunning(const std::filesystem::path& proc_root, std::string_view name);

// Whether udev's database gives the device (by its "major:minor") the
// property with a true value (E:NAME=1).
bool UdevPropertySet(const std::filesystem::path& run_root, const std::string& dev_number,
                     std::string_view property);

// The udev rule files in force, by name: one in /etc replaces one of the
// same name in /run, which replaces one in the libraries' folders; a file
// replaced by an empty one or a link to /dev/null is masked and left out.
std::vector<std::filesystem::path> UdevRuleFiles(const SystemRoots& roots);

// The udev rule this package installs (in /usr/lib/udev/rules.d).
inline constexpr const char* kStbupUdevRule = "60-stbup-serial.rules";

// Whether stbup's own udev rule is in force (present, not masked).
bool StbupUdevRuleInstalled(const SystemRoots& roots);

}  // namespace stbup
