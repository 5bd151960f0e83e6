#include <windows.h>

#include <algorithm>
#include <string>

#include "records/pending_records.h"
#include "records/records.h"
#include "records/win32/system_error_text.h"

namespace stbup {

namespace {

// A handle that closes itself, so every way out of a call lets go of the
// file and its lock.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return handle_; }
  void Close() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// Waits for a file another run holds alone for a moment (to delete it once
// empty); anything else is said at once. Sets the thread's last error.
HANDLE OpenShared(const std::string& path, DWORD disposition) {
  for (int attempt = 0;; ++attempt) {
    // No FILE_SHARE_DELETE: nobody deletes the file while a run has it open
    // and may still append to it.
    const HANDLE file = ::CreateFileA(
        path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    const DWORD error = ::GetLastError();
    // A file being deleted refuses to open until its last handle closes.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    const bool folder =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool held = error == ERROR_SHARING_VIOLATION || (error == ERROR_ACCESS_DENIED && !folder);
    if (!held || attempt >= 500) {
      ::SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
    ::Sleep(2);
  }
}

// The file open and locked against every other run. A folder, a device or
// a link at the path is refused. Sets the thread's last error.
HANDLE OpenLocked(const std::string& path, bool create) {
  const HANDLE file = OpenShared(path, create ? OPEN_ALWAYS : OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return file;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (::GetFileType(file) != FILE_TYPE_DISK ||
      ::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) == 0 ||
      (tag.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    ::CloseHandle(file);
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  OVERLAPPED whole{};
  if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) == 0) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    ::SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

// The emptied file deleted, but only while no other run has it open: one
// that has may be about to append, and its records would go with the file.
// Left in place otherwise (an empty file holds no records).
void DeleteIfEmptyAndUnused(const std::string& path) {
  const HANDLE alone = ::CreateFileA(path.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (alone == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(alone, &size) != 0 && size.QuadPart == 0) {
    FILE_DISPOSITION_INFO at_close{};
    at_close.DeleteFile = TRUE;
    ::SetFileInformationByHandle(alone, FileDispositionInfo, &at_close, sizeof at_close);
  }
  // The only handle: the name goes as it closes.
  ::CloseHandle(alone);
}

bool WriteAll(HANDLE file, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1 << 20));
    DWORD wrote = 0;
    if (::WriteFile(file, text.data() + done, chunk, &wrote, nullptr) == 0 || wrote == 0) {
      return false;
    }
    done += wrote;
  }
  return true;
}

}  // namespace

PendingRecords::PendingRecords(const std::string& records_path)
    : path_(records_path + ".pending.jsonl") {}

void PendingRecords::Append(const std::vector<BoxRecord>& records) const {
  if (records.empty()) return;
  const FileHandle file(OpenLocked(path_, true));
  if (!file) {
    throw RecordsError(path_ + ": cannot keep records there: " + SystemErrorText(::GetLastError()));
  }
  LARGE_INTEGER before{};
  std::string lines;
  for (const BoxRecord& record : records) lines += RecordToJsonLine(record) + "\n";
  const LARGE_INTEGER nothing{};
  if (::SetFilePointerEx(file.get(), nothing, &before, FILE_END) == 0 ||
      !WriteAll(file.get(), lines) || ::FlushFileBuffers(file.get()) == 0) {
    const DWORD error = ::GetLastError();
    // Whole or not at all: a torn tail would be half a record. Should this
    // fail too, a torn line is skipped when taken in.
    if (::SetFilePointerEx(file.get(), before, nullptr, FILE_BEGIN) != 0) {
      ::SetEndOfFile(file.get());
    }
    throw RecordsError(path_ + ": cannot keep records there: " + SystemErrorText(error));
  }
}

std::vector<BoxRecord> PendingRecords::TakeAll() const {
  std::vector<BoxRecord> records;
  FileHandle file(OpenLocked(path_, false));
  if (!file) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return records;
    throw RecordsError(path_ +
                       ": cannot take in the records kept there: " + SystemErrorText(error));
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) == 0) {
      throw RecordsError(
          path_ + ": cannot take in the records kept there: " + SystemErrorText(::GetLastError()));
    }
    if (got == 0) break;
    text.append(buffer, got);
  }
  // Emptied under the lock, so no record is taken twice; a run appending
  // meanwhile waits for the lock and appends to the empty file.
  const LARGE_INTEGER start_of_file{};
  if (::SetFilePointerEx(file.get(), start_of_file, nullptr, FILE_BEGIN) == 0 ||
      ::SetEndOfFile(file.get()) == 0) {
    throw RecordsError(
        path_ + ": cannot take in the records kept there: " + SystemErrorText(::GetLastError()));
  }
  file.Close();
  DeleteIfEmptyAndUnused(path_);
  AppendRecordsFromJsonLines(text, records);
  return records;
}

}  // namespace stbup
