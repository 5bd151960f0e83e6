#include <windows.h>

#include <string_view>

#include "records/records.h"
#include "records/records_file.h"
#include "records/win32/system_error_text.h"

namespace stbup {

namespace {

constexpr std::string_view kSqliteHeader{"SQLite format 3\0", 16};

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
  throw RecordsError(path + ": not a records file: " + why);
}

[[noreturn]] void Unreadable(const std::string& path, DWORD error) {
  throw RecordsError(path + ": cannot be read: " + SystemErrorText(error));
}

// What a handle that is not a file on a disk is: COM1, NUL and CON are
// devices, \\.\pipe\... a pipe.
std::string KindOf(DWORD type) {
  if (type == FILE_TYPE_PIPE) return "a pipe";
  if (type == FILE_TYPE_CHAR) return "a device";
  return "not a regular file";
}

}  // namespace

RecordsFileState CheckRecordsFile(const std::string& path) {
  // Shared every way: a writer holding the file open must not be refused,
  // and no one waits on this look.
  const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return RecordsFileState::kMissing;
    }
    // A folder does not open as a file: denied, as a file held by another is.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      Refuse(path, "a folder");
    }
    Unreadable(path, error);
  }
  const DWORD type = ::GetFileType(file);
  if (type != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    Refuse(path, KindOf(type));
  }
  char header[16] = {};
  DWORD got = 0;
  // A whole header or what the file has of one; reads of a file on a disk
  // never wait on anything but the disk.
  DWORD error = 0;
  OVERLAPPED at_start{};
  if (::ReadFile(file, header, sizeof header, &got, &at_start) == 0) {
    error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF) error = 0;
  }
  ::CloseHandle(file);
  if (error != 0) Unreadable(path, error);
  // An empty file is a database SQLite has not written to yet.
  if (got == 0) return RecordsFileState::kReady;
  if (std::string_view(header, got) != kSqliteHeader) Refuse(path, "not an SQLite database");
  return RecordsFileState::kReady;
}

}  // namespace stbup
