#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace stbup {

// Where the station finds its ports, each platform its own way (cli/posix/,
// cli/win32/). Linux: a port is a device path, a COMn name one through the
// settings file's map, and --watch is a glob over the file system. Windows: a
// port is a COM name as Windows knows it, and --watch a pattern ('*', '?',
// '[...]', any case) over the COM names Windows lists.
class PortLook {
 public:
  // Asks the system once: a look is a moment's view, taken anew each time
  // the station looks (Windows: the COM names it lists now).
  PortLook();

  // The port names the pattern matches now, as they are to be served.
  std::set<std::string> Matching(const std::string& pattern) const;
  // Whether the device a port stands for is there now.
  bool Present(const std::string& device) const;

 private:
  std::set<std::string> listed_;  // Windows: the COM names
};

// The watch pattern as the station keeps it: on Linux a relative glob is
// taken from the folder the station was started in.
std::string AnchorWatchPattern(const std::string& pattern);

// The name a port's log and trace files take (DIR/<name>.log, .jsonl):
// StationFileName, and on Windows a name the system keeps for a device
// (COM1-COM9, LPT1-LPT9, CON, PRN, AUX, NUL, whatever follows a dot) has its
// last letter written %XX, since opening "COM3.log" would open the port.
std::string StationPortFileName(std::string_view port);

// What --watch takes, for the command's help.
std::string WatchPatternHelp();

// Whether the ports given make the station read the settings file's COMn
// map (never on Windows, whose COM names are its own).
bool StationNeedsPortMap(const std::vector<std::string>& ports);

// The device looked for to know whether a port is there.
std::string StationPortDevice(const std::string& port,
                              const std::map<std::string, std::string, std::less<>>& map);

}  // namespace stbup
