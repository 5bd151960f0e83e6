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
  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

bool DeletePending(HANDLE file) {
  FILE_STANDARD_INFO info{};
  return ::GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) != 0 &&
         info.DeletePending != 0;
}

// The file open and locked, and still one the path names: another run may
// have taken it in (and deleted it) while this one waited for the lock. A
// deleted file's name stays taken until its last handle closes, so opening
// it can be denied for a moment: tried again, as for a file deleted after
// the lock was had. Sets the thread's last error when there is no file.
HANDLE OpenLocked(const std::string& path, bool create) {
  DWORD error = ERROR_BUSY;
  for (int attempt = 0; attempt < 200; ++attempt) {
    // Share everything: the lock below is what keeps runs apart, and the
    // name must be deletable by the run that takes the records in.
    const HANDLE file =
        ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      create ? OPEN_ALWAYS : OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = ::GetLastError();
      const DWORD attributes = ::GetFileAttributesA(path.c_str());
      const bool folder =
          attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (error == ERROR_ACCESS_DENIED && !folder && attempt < 199) {
        ::Sleep(10);
        continue;
      }
      ::SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (::GetFileType(file) != FILE_TYPE_DISK ||
        (::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) != 0 &&
         (tag.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)) {
      ::CloseHandle(file);
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    OVERLAPPED whole{};
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) == 0) {
      error = ::GetLastError();
      ::CloseHandle(file);
      ::SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
    if (!DeletePending(file)) return file;
    ::CloseHandle(file);
    if (!create) {
      ::SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    ::Sleep(1);
  }
  ::SetLastError(error);
  return INVALID_HANDLE_VALUE;
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

// Windows 10's delete that frees the name at once, as on Linux; declared
// here, as the build asks for Windows 7's headers, where it is missing.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
struct DispositionInfoEx {
  DWORD flags;
};

// The name gone at once where the system can; else when the last handle to
// the file closes, which the lock's waiters notice.
void DeleteOpenFile(HANDLE file) {
  DispositionInfoEx at_once{kDispositionDelete | kDispositionPosixSemantics};
  if (::SetFileInformationByHandle(file, kFileDispositionInfoEx, &at_once, sizeof at_once) != 0) {
    return;
  }
  FILE_DISPOSITION_INFO at_close{};
  at_close.DeleteFile = TRUE;
  ::SetFileInformationByHandle(file, FileDispositionInfo, &at_close, sizeof at_close);
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
  const FileHandle file(OpenLocked(path_, false));
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
  // Deleted under the lock: a run appending meanwhile waits, then finds the
  // file deleted and starts a new one.
  DeleteOpenFile(file.get());
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (auto record = RecordFromJsonLine(std::string_view(text).substr(start, end - start))) {
      records.push_back(std::move(*record));
    }
    start = end + 1;
  }
  return records;
}

}  // namespace stbup
