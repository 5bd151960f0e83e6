#pragma once

#include <string>

namespace stbup {

// What a records file named for reading is, found out without waiting on it:
// a FIFO, a folder or a device is never opened the way SQLite would open it.
enum class RecordsFileState {
  kMissing,  // nothing there: no box has been recorded yet
  kReady,    // a regular file that is empty or begins as an SQLite database
};

// Throws RecordsError, naming the file and why, for anything else: a FIFO, a
// folder, a device, a symbolic-link loop, a file that cannot be read, a file
// that is not an SQLite database.
RecordsFileState CheckRecordsFile(const std::string& path);

}  // namespace stbup
