#include "serial/port_diagnosis.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace stbup {
namespace {

namespace fs = std::filesystem;

std::string GroupName(gid_t gid) {
  if (const group* entry = ::getgrgid(gid)) return entry->gr_name;
  return std::to_string(gid);
}

std::string UserName(uid_t uid) {
  if (const passwd* entry = ::getpwuid(uid)) return entry->pw_name;
  return std::to_string(uid);
}

std::string ProcessName(const fs::path& process_dir) {
  std::ifstream in(process_dir / "comm");
  std::string name;
  std::getline(in, name);
  return name.empty() ? "?" : name;
}

}  // namespace

std::string FindHolders(const std::string& device_path, const fs::path& proc_root) {
  std::error_code error;
  fs::path device = fs::canonical(device_path, error);
  if (error) return {};
  std::string holders;
  for (const auto& process : fs::directory_iterator(proc_root, error)) {
    std::string pid = process.path().filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code fd_error;
    for (const auto& fd : fs::directory_iterator(process.path() / "fd", fd_error)) {
      std::error_code link_error;
      fs::path target = fs::read_symlink(fd.path(), link_error);
      if (!link_error && target == device) {
        if (!holders.empty()) holders += ", ";
        holders += ProcessName(process.path()) + " (pid " + pid + ")";
        break;
      }
    }
  }
  return holders;
}

std::string AdviseOnOpenFailure(CommErrorKind kind, int error_code, const std::string& device_path,
                                const fs::path& proc_root) {
  switch (kind) {
    case CommErrorKind::kNotFound:
      return device_path +
             " does not exist: check the cable or adapter and the port chosen (the "
             "window's port list and `stbup ports` show the serial devices found)";
    case CommErrorKind::kGone:
      if (error_code == ENXIO && device_path == "/dev/tty") {
        return "/dev/tty stands for this process's controlling terminal, and it has none: give "
               "the serial device's own path (stbup ports lists the serial devices found)";
      }
      if (error_code == ENXIO || error_code == ENODEV) {
        return device_path +
               " exists but no device answers behind it: check the cable or adapter "
               "(stbup ports lists the serial devices found)";
      }
      break;
    case CommErrorKind::kDenied: {
      struct stat info {};
      if (::stat(device_path.c_str(), &info) != 0) return "permission denied on " + device_path;
      std::string group = GroupName(info.st_gid);
      const bool group_may_use = (info.st_mode & S_IRGRP) != 0 && (info.st_mode & S_IWGRP) != 0;
      // Joining root's group would be bad advice, and joining a group that
      // may not read and write the device would not help.
      if (info.st_gid != 0 && group_may_use) {
        return "permission denied on " + device_path + ": it belongs to the group " + group +
               "; add yourself to it (sudo adduser $USER " + group + ") and log in again";
      }
      return "permission denied on " + device_path + " (owner " + UserName(info.st_uid) +
             ", group " + group +
             "): ask an administrator to give you access to it, e.g. "
             "with a udev rule for the group dialout";
    }
    case CommErrorKind::kBusy: {
      std::string holders = FindHolders(device_path, proc_root);
      // The device's own exclusive use, or the lock another program took on it.
      if (error_code == EBUSY) {
        return device_path + " is busy" + (holders.empty() ? "" : ": held by " + holders);
      }
      return device_path + " is in use by another program" +
             (holders.empty() ? "" : ": " + holders);
    }
    case CommErrorKind::kNotSerialDevice: {
      struct stat info {};
      const bool known = ::stat(device_path.c_str(), &info) == 0;
      const char* what = !known                   ? "a device that is no terminal"
                         : S_ISREG(info.st_mode)  ? "a regular file"
                         : S_ISDIR(info.st_mode)  ? "a folder"
                         : S_ISFIFO(info.st_mode) ? "a FIFO"
                         : S_ISSOCK(info.st_mode) ? "a socket"
                                                  : "a device that is no terminal";
      return device_path + " is not a serial device (" + what +
             "): give the serial device's path (stbup ports lists the serial devices found)";
    }
    case CommErrorKind::kUnsupported:
    case CommErrorKind::kOther:
      break;
  }
  if (error_code == 0) return {};
  return device_path + ": " + std::strerror(error_code);
}

std::string DiagnosePort(const std::string& device_path, const fs::path& proc_root) {
  int fd = ::open(device_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int open_error = errno;
    return AdviseOnOpenFailure(CommErrorKindOf(open_error), open_error, device_path, proc_root);
  }
  struct stat info {};
  const bool character_device = ::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode);
  const bool terminal = ::isatty(fd) == 1;
  int lock = ::flock(fd, LOCK_EX | LOCK_NB);
  int lock_error = errno;
  ::close(fd);
  if (!character_device || !terminal) {
    return AdviseOnOpenFailure(CommErrorKind::kNotSerialDevice, ENOTTY, device_path, proc_root);
  }
  if (lock != 0 && lock_error == EWOULDBLOCK) {
    return AdviseOnOpenFailure(CommErrorKind::kBusy, EWOULDBLOCK, device_path, proc_root);
  }
  return {};
}

}  // namespace stbup
