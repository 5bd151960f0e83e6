#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/settings.h"

namespace stbup {

// The window's command line: an optional image file and, as the command line
// takes them, the station, operator and work order its records name.
struct WindowArguments {
  std::string image;  // the first argument that is not an option; empty: none
  // Given on the command line (an empty value is given too: none recorded).
  std::optional<std::string> station_name;
  std::optional<std::string> operator_name;
  std::optional<std::string> work_order;
};

inline constexpr std::string_view kWindowUsage =
    "usage: stbup-gui [--station-name NAME] [--operator NAME] [--order TEXT] [IMAGE]";

class WindowUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The arguments after the program's name. "--name VALUE" and "--name=VALUE"
// both; "--" ends the options, so an image may be named "--order". Throws
// WindowUsageError for an unknown option or one without its value.
WindowArguments ParseWindowArguments(const std::vector<std::string>& arguments);
// The same for a window's main: arguments it cannot take are said on err
// with the usage line, and give nothing (the window exits 2).
std::optional<WindowArguments> WindowArgumentsOrUsage(int argc, char** argv, std::ostream& err);

// The records section of the settings store: a key of its own beside the
// window's three values, never among them.
inline constexpr std::string_view kRecordsKeyPath =
    "\\SOFTWARE\\TAVOLINKS\\SOFTWAREUPGRADE_TZIP\\Records";

// Where the window's boxes are recorded, and whose they are.
struct WindowRecords {
  std::string file;    // the records file, absolute; empty: no records
  std::string server;  // the line's server (a libpq URL or key words); empty: none
  std::string station_name;
  std::optional<std::string> operator_name;
  std::optional<std::string> work_order;
  // Values of the records section that could not be read (and are not used).
  std::vector<std::string> problems;
};

// What the window's records take besides its arguments and its store.
struct RecordsSurroundings {
  // A variable of the window's environment; empty when unset.
  std::function<std::string(const char* name)> environment;
  // Where records go when nothing else names a file; empty: nowhere.
  std::string default_file;
  std::string host_name;
};

// Each value from the first place that has one: the window's command line,
// then the environment (STBUP_RECORDS, STBUP_RECORDS_SERVER, STBUP_OPERATOR),
// then the store's records section, then the default (the records file under
// the user's data folder, the host name as the station). The environment wins
// over the store as it does over the command line's own defaults: a script or
// a test that sets it is obeyed whatever an operator saved. The file is made
// absolute here, before the window moves into an image's folder.
WindowRecords ChooseWindowRecords(Settings& settings, const WindowArguments& arguments,
                                  const RecordsSurroundings& surroundings);

}  // namespace stbup
