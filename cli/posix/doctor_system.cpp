#include "cli/posix/doctor_system.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <system_error>

namespace stbup {
namespace {

namespace fs = std::filesystem;

std::string FirstLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

std::vector<std::string> SplitFields(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, separator)) fields.push_back(field);
  if (!line.empty() && line.back() == separator) fields.emplace_back();
  return fields;
}

std::optional<unsigned long> Number(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  try {
    return std::stoul(text);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

}  // namespace

SystemRoots SystemRoots::Under(const fs::path& root) {
  SystemRoots roots;
  roots.sysfs = root / "sys";
  roots.dev = root / "dev";
  roots.proc = root / "proc";
  roots.etc = root / "etc";
  roots.run = root / "run";
  roots.lib = {root / "usr/lib", root / "lib"};
  return roots;
}

LoginIdentity LoginIdentity::OfThisProcess() {
  LoginIdentity who;
  who.uid = ::geteuid();
  who.gid = ::getegid();
  const int count = ::getgroups(0, nullptr);
  if (count > 0) {
    who.groups.resize(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, who.groups.data());
    who.groups.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  }
  return who;
}

bool LoginIdentity::Has(gid_t group) const {
  return group == gid || std::find(groups.begin(), groups.end(), group) != groups.end();
}

bool MayAccess(const struct stat& info, const LoginIdentity& who, int access) {
  if (who.uid == 0) return true;
  int shift = 0;  // the others' bits
  if (info.st_uid == who.uid) {
    shift = 6;
  } else if (who.Has(info.st_gid)) {
    shift = 3;
  }
  const mode_t bits = (info.st_mode >> shift) & 07;
  const mode_t wanted =
      ((access & R_OK) ? 04 : 0) | ((access & W_OK) ? 02 : 0) | ((access & X_OK) ? 01 : 0);
  return (bits & wanted) == wanted;
}

std::string ModeText(mode_t mode) {
  std::string text = S_ISCHR(mode)    ? "c"
                     : S_ISBLK(mode)  ? "b"
                     : S_ISDIR(mode)  ? "d"
                     : S_ISLNK(mode)  ? "l"
                     : S_ISFIFO(mode) ? "p"
                     : S_ISSOCK(mode) ? "s"
                                      : "-";
  const char* letters = "rwxrwxrwx";
  for (int bit = 0; bit < 9; ++bit) text += (mode & (0400 >> bit)) ? letters[bit] : '-';
  return text;
}

AccountDatabase::AccountDatabase(const fs::path& etc_root) : ask_system_(etc_root == "/etc") {
  std::ifstream passwd(etc_root / "passwd");
  for (std::string line; std::getline(passwd, line);) {
    const auto fields = SplitFields(line, ':');  // name:x:uid:gid:...
    if (fields.size() < 4) continue;
    const auto uid = Number(fields[2]);
    const auto gid = Number(fields[3]);
    if (!uid || !gid || users_.count(static_cast<uid_t>(*uid))) continue;
    users_[static_cast<uid_t>(*uid)] = {fields[0], static_cast<gid_t>(*gid)};
  }
  std::ifstream group(etc_root / "group");
  for (std::string line; std::getline(group, line);) {
    const auto fields = SplitFields(line, ':');  // name:x:gid:member,member
    if (fields.size() < 3) continue;
    const auto gid = Number(fields[2]);
    if (!gid || groups_.count(static_cast<gid_t>(*gid))) continue;
    Group entry{fields[0], {}};
    if (fields.size() > 3) {
      for (auto& member : SplitFields(fields[3], ',')) {
        if (!member.empty()) entry.members.push_back(member);
      }
    }
    groups_[static_cast<gid_t>(*gid)] = std::move(entry);
  }
}

const AccountDatabase::User* AccountDatabase::FindUser(uid_t uid) const {
  auto user = users_.find(uid);
  if (user != users_.end()) return &user->second;
  if (!ask_system_) return nullptr;
  const passwd* entry = ::getpwuid(uid);
  if (entry == nullptr) return nullptr;
  return &(users_[uid] = User{entry->pw_name, entry->pw_gid});
}

std::string AccountDatabase::UserName(uid_t uid) const {
  const User* user = FindUser(uid);
  return user != nullptr ? user->name : std::to_string(uid);
}

bool AccountDatabase::KnowsUser(uid_t uid) const { return FindUser(uid) != nullptr; }

std::string AccountDatabase::GroupName(gid_t gid) const {
  auto group = groups_.find(gid);
  if (group != groups_.end()) return group->second.name;
  if (ask_system_) {
    if (const struct group* entry = ::getgrgid(gid)) return entry->gr_name;
  }
  return std::to_string(gid);
}

bool AccountDatabase::GrantsGroup(uid_t uid, gid_t gid) const {
  const User* user = FindUser(uid);
  if (user == nullptr) return false;
  if (user->primary_group == gid) return true;
  auto group = groups_.find(gid);
  if (group != groups_.end()) {
    const auto& members = group->second.members;
    if (std::find(members.begin(), members.end(), user->name) != members.end()) return true;
  }
  if (!ask_system_) return false;
  // Every group the system's databases give the user, as a fresh login gets them.
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (::getgrouplist(user->name.c_str(), user->primary_group, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(user->name.c_str(), user->primary_group, groups.data(), &count) < 0) {
      return false;
    }
  }
  groups.resize(static_cast<std::size_t>(count));
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

DoctorPort DescribePort(const std::string& device, const SystemRoots& roots) {
  DoctorPort port;
  port.device = device;
  std::error_code error;
  // A by-id name or other link names the tty it points at.
  const std::string name = fs::weakly_canonical(device, error).filename().string();
  if (error || name.empty()) return port;
  for (auto& found : FindSerialPorts(roots.sysfs, roots.dev)) {
    if (found.name == name) {
      port.info = std::move(found);
      port.dev_number = FirstLine(roots.sysfs / "class/tty" / name / "dev");
      break;
    }
  }
  return port;
}

std::vector<DoctorPort> PortsFound(const SystemRoots& roots) {
  std::vector<DoctorPort> usb, all;
  for (auto& found : FindSerialPorts(roots.sysfs, roots.dev)) {
    DoctorPort port;
    port.device = found.device_path;
    port.dev_number = FirstLine(roots.sysfs / "class/tty" / found.name / "dev");
    port.info = std::move(found);
    if (!port.info.usb_vendor.empty()) usb.push_back(port);
    all.push_back(std::move(port));
  }
  return usb.empty() ? all : usb;
}

std::string AdapterKind(std::string_view usb_vendor, std::string_view usb_product) {
  struct Bridge {
    const char* vendor;
    const char* product;  // nullptr: any product of the vendor
    const char* kind;
  };
  static constexpr Bridge kBridges[] = {
      {"0403", nullptr, "FTDI"},  {"10c4", "ea60", "CP210x"}, {"10c4", "ea61", "CP210x"},
      {"10c4", "ea63", "CP210x"}, {"10c4", "ea70", "CP210x"}, {"10c4", "ea71", "CP210x"},
      {"10c4", "ea7a", "CP210x"}, {"10c4", "ea7b", "CP210x"}, {"1a86", "7523", "CH340"},
      {"1a86", "7522", "CH340"},  {"1a86", "5523", "CH341"},  {"067b", "2303", "PL2303"},
      {"067b", "23a3", "PL2303"}, {"067b", "23b3", "PL2303"}, {"067b", "23c3", "PL2303"},
      {"067b", "23d3", "PL2303"}, {"067b", "23e3", "PL2303"}, {"067b", "23f3", "PL2303"},
  };
  const std::string vendor = Lower(usb_vendor);
  const std::string product = Lower(usb_product);
  for (const auto& bridge : kBridges) {
    if (vendor == bridge.vendor && (bridge.product == nullptr || product == bridge.product)) {
      return bridge.kind;
    }
  }
  return {};
}

std::string PortTitle(const DoctorPort& port) {
  if (port.info.usb_vendor.empty()) return port.device;
  std::string kind = AdapterKind(port.info.usb_vendor, port.info.usb_product);
  return port.device + " (" + (kind.empty() ? "USB" : kind) + " " + port.info.usb_vendor + ":" +
         port.info.usb_product + ")";
}

bool ProcessRunning(const fs::path& proc_root, std::string_view name) {
  std::error_code error;
  for (const auto& process : fs::directory_iterator(proc_root, error)) {
    const std::string pid = process.path().filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    if (FirstLine(process.path() / "comm") == name) return true;
  }
  return false;
}

bool UdevPropertySet(const fs::path& run_root, const std::string& dev_number,
                     std::string_view property) {
  if (dev_number.empty()) return false;
  std::ifstream data(run_root / "udev/data" / ("c" + dev_number));
  const std::string prefix = "E:" + std::string(property) + "=";
  for (std::string line; std::getline(data, line);) {
    if (line.starts_with(prefix)) {
      const std::string value = line.substr(prefix.size());
      return value == "1" || value == "true" || value == "yes";
    }
  }
  return false;
}

std::vector<fs::path> UdevRuleFiles(const SystemRoots& roots) {
  std::vector<fs::path> folders = {roots.etc / "udev/rules.d", roots.run / "udev/rules.d"};
  for (const auto& lib : roots.lib) folders.push_back(lib / "udev/rules.d");
  std::map<std::string, fs::path> by_name;  // the first folder holding a name wins
  for (const auto& folder : folders) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
      const std::string name = entry.path().filename().string();
      if (!name.ends_with(".rules") || by_name.count(name)) continue;
      by_name[name] = entry.path();
    }
  }
  std::vector<fs::path> files;
  for (const auto& [name, path] : by_name) {
    std::error_code error;
    const fs::path target = fs::read_symlink(path, error);
    if (!error && target == "/dev/null") continue;
    if (fs::is_regular_file(path, error) && fs::file_size(path, error) == 0) continue;
    if (!fs::is_regular_file(path, error)) continue;
    files.push_back(path);
  }
  return files;
}

bool StbupUdevRuleInstalled(const SystemRoots& roots) {
  for (const auto& file : UdevRuleFiles(roots)) {
    if (file.filename() == kStbupUdevRule) return true;
  }
  return false;
}

}  // namespace stbup
