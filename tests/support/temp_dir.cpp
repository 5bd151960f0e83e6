#include "tests/support/temp_dir.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace stbup {

TempDir::TempDir() {
  // A fresh folder of its own under the system's temporary folder ($TMPDIR on
  // Linux, %TEMP% on Windows); create_directory is false when the name is taken.
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device seed;
  std::mt19937_64 names(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "stbup-test-%012llx",
                  static_cast<unsigned long long>(names() & 0xFFFFFFFFFFFFull));
    const std::filesystem::path candidate = base / name;
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate.generic_string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::PathOf(std::string_view name) const { return path_ + "/" + std::string(name); }

std::string TempDir::WriteFile(std::string_view name, std::span<const std::uint8_t> bytes) const {
  const std::string file = PathOf(name);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file);
  return file;
}

std::string TempDir::WriteFile(std::string_view name, std::string_view bytes) const {
  return WriteFile(name,
                   std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

void TempDir::ResizeFile(const std::string& file, std::uint64_t size) {
#ifdef _WIN32
  const std::wstring wide = std::filesystem::path(file).wstring();
  const HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + file);
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  const bool sized = ::SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(handle);
  ::CloseHandle(handle);
  if (!sized) throw std::runtime_error("cannot set the size of " + file);
#else
  if (::truncate(file.c_str(), static_cast<off_t>(size)) != 0) {
    throw std::runtime_error("cannot set the size of " + file);
  }
#endif
}

}  // namespace stbup
