#include <shlobj.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "records/records.h"

namespace stbup {

namespace {

// The folder of the user's local (not roaming) application data: records are
// this PC's, and a roaming profile would copy a database that is being written.
std::string LocalAppData() {
  if (const char* given = std::getenv("LOCALAPPDATA"); given != nullptr && *given != '\0') {
    return given;
  }
  char folder[MAX_PATH] = {};
  if (::SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) !=
      S_OK) {
    return {};
  }
  return folder;
}

}  // namespace

std::string DefaultRecordsPath() {
  if (const char* given = std::getenv("STBUP_RECORDS"); given != nullptr && *given != '\0') {
    return given;
  }
  const std::string data = LocalAppData();
  if (data.empty()) return {};
  return data + "\\stbup\\records.sqlite3";
}

std::string DefaultRecordsPlace() { return "%LOCALAPPDATA%\\stbup\\records.sqlite3"; }

}  // namespace stbup
