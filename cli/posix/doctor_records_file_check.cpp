#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "cli/posix/doctor_checks.h"

namespace stbup {
namespace {

namespace fs = std::filesystem;

constexpr const char* kGiveAnother = "give another file with --records FILE or STBUP_RECORDS=FILE";

class RecordsFileCheck : public DoctorCheck {
 public:
  RecordsFileCheck(const DoctorSystem& system, std::string path)
      : system_(system), path_(std::move(path)) {}

  std::string Name() const override { return "records"; }

  std::vector<DoctorFinding> Run() const override {
    if (path_.empty()) {
      return {{DoctorStatus::kTodo,
               "no records file: neither --records, nor STBUP_RECORDS, nor a home folder",
               "give one with --records FILE or STBUP_RECORDS=FILE"}};
    }
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0) {
      if (errno != ENOENT) {
        return {{DoctorStatus::kTodo, path_ + ": " + std::strerror(errno), kGiveAnother}};
      }
      return {Creatable()};
    }
    if (!S_ISREG(info.st_mode)) {
      return {{DoctorStatus::kTodo, path_ + " is not a regular file", kGiveAnother}};
    }
    if (!MayAccess(info, system_.who, R_OK | W_OK)) {
      return {{DoctorStatus::kTodo, path_ + " (" + Owned(info) + ") cannot be written by " + User(),
               "make it writable for " + User() + ", or " + kGiveAnother}};
    }
    if (!IsDatabase()) {
      return {{DoctorStatus::kTodo, path_ + " is not a records database",
               "move it away, or " + std::string(kGiveAnother)}};
    }
    // The database keeps its journal in files beside it.
    const fs::path folder =
        fs::path(path_).parent_path().empty() ? fs::path(".") : fs::path(path_).parent_path();
    struct stat folder_info {};
    if (::stat(folder.c_str(), &folder_info) == 0 &&
        !MayAccess(folder_info, system_.who, W_OK | X_OK)) {
      return {{DoctorStatus::kTodo,
               "records go to " + path_ + ", but its folder " + folder.string() + " (" +
                   Owned(folder_info) + ") cannot be written by " + User() +
                   ", and the database keeps its journal there",
               "make the folder writable for " + User() + ", or " + kGiveAnother}};
    }
    return {{DoctorStatus::kOk, "records go to " + path_, {}}};
  }

 private:
  // A missing file is made at the first record, with the folders leading to
  // it: the nearest folder that exists must let this user write.
  DoctorFinding Creatable() const {
    fs::path folder = fs::path(path_).parent_path();
    if (folder.empty()) folder = ".";
    std::error_code error;
    while (!fs::exists(folder, error) && folder.has_relative_path()) folder = folder.parent_path();
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
        MayAccess(info, system_.who, W_OK | X_OK)) {
      return {DoctorStatus::kOk, "records go to " + path_ + " (made at the first record)", {}};
    }
    return {DoctorStatus::kTodo,
            "records go to " + path_ + ", which " + User() + " cannot create: " + folder.string() +
                (::stat(folder.c_str(), &info) == 0 ? " (" + Owned(info) + ")" : "") +
                " cannot be written",
            kGiveAnother};
  }

  bool IsDatabase() const {
    std::ifstream in(path_, std::ios::binary);
    char header[16] = {};
    in.read(header, sizeof header);
    if (in.gcount() == 0) return true;  // an empty file becomes one
    return in.gcount() == sizeof header && std::memcmp(header, "SQLite format 3", 16) == 0;
  }

  std::string Owned(const struct stat& info) const {
    return ModeText(info.st_mode) + " " + system_.accounts.UserName(info.st_uid) + " " +
           system_.accounts.GroupName(info.st_gid);
  }

  std::string User() const { return system_.accounts.UserName(system_.who.uid); }

  const DoctorSystem& system_;
  std::string path_;
};

}  // namespace

std::unique_ptr<DoctorCheck> MakeRecordsFileCheck(const DoctorSystem& system,
                                                  std::string records_path) {
  return std::make_unique<RecordsFileCheck>(system, std::move(records_path));
}

}  // namespace stbup
