#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/posix/doctor_checks.h"

namespace stbup {
namespace {

class PortAccessCheck : public DoctorCheck {
 public:
  explicit PortAccessCheck(const DoctorSystem& system) : system_(system) {}

  std::string Name() const override { return "port access"; }

  std::vector<DoctorFinding> Run() const override {
    if (system_.ports.empty()) {
      return {{DoctorStatus::kTodo, "no serial devices found",
               "plug the USB serial adapter in (`stbup ports` lists the serial devices found), "
               "or name the port: stbup doctor --port DEVICE"}};
    }
    std::vector<DoctorFinding> findings;
    for (const auto& port : system_.ports) findings.push_back(Look(port.device));
    return findings;
  }

 private:
  DoctorFinding Look(const std::string& device) const {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) {
        return {DoctorStatus::kTodo, device + " does not exist",
                "plug the adapter in and check the port's name (`stbup ports` lists the serial "
                "devices found)"};
      }
      return {DoctorStatus::kNote, device + ": " + std::strerror(errno), {}};
    }
    const auto& accounts = system_.accounts;
    const auto& who = system_.who;
    const std::string group = accounts.GroupName(info.st_gid);
    const std::string seen = device + " (" + ModeText(info.st_mode) + " " +
                             accounts.UserName(info.st_uid) + " " + group + ")";
    if (who.uid == 0) return {DoctorStatus::kOk, seen + ": root may open it", {}};
    if (MayAccess(info, who, R_OK | W_OK)) {
      const std::string why = info.st_uid == who.uid ? "it is yours"
                              : who.Has(info.st_gid) ? "this login has the group " + group
                                                     : "anyone may read and write it";
      return {DoctorStatus::kOk, seen + ": " + why, {}};
    }
    // The name to give adduser: the database's, else the login's own.
    const std::string user = accounts.KnowsUser(who.uid) ? accounts.UserName(who.uid) : "$USER";
    const bool group_may_use = (info.st_mode & S_IRGRP) && (info.st_mode & S_IWGRP);
    // Joining root's group would be bad advice, and joining a group that may
    // not read and write the port would not help.
    if (info.st_gid == 0 || !group_may_use || info.st_uid == who.uid) {
      return {DoctorStatus::kTodo, seen + ": " + user + " may not read and write it",
              "ask an administrator to give the port to the group dialout (Debian's udev rules "
              "do so for serial ports) and to add " +
                  user + " to that group"};
    }
    if (accounts.GrantsGroup(who.uid, info.st_gid)) {
      return {DoctorStatus::kTodo,
              seen + ": " + user + " is in the group " + group +
                  ", but this login began before that and does not have it yet",
              "log out and in again (or, for this shell only: newgrp " + group + ")"};
    }
    return {DoctorStatus::kTodo, seen + ": " + user + " is not in the group " + group,
            "sudo adduser " + user + " " + group + ", then log out and in again"};
  }

  const DoctorSystem& system_;
};

}  // namespace

std::unique_ptr<DoctorCheck> MakePortAccessCheck(const DoctorSystem& system) {
  return std::make_unique<PortAccessCheck>(system);
}

}  // namespace stbup
