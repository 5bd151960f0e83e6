#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "seams/exit_status.h"

namespace stbup {

// Where a sub-command writes; tests run commands in-process with string streams.
struct CommandIo {
  std::ostream& out;
  std::ostream& err;
};

// The stbup command's sub-commands. Each one lives in its own file and adds
// itself with one call from main.cpp, e.g.
//
//   void AddInfoCommand(CommandRegistry& registry) {
//     auto options = std::make_shared<InfoOptions>();
//     CLI::App* sub = registry.Add("info", "Show an image's identification",
//                                  [options](CommandIo& io) { return RunInfo(*options, io); });
//     sub->add_option("IMAGE", options->image, "...")->required();
//   }
//
// The run function is called after a successful parse and returns the exit
// status; an exception escaping it is an internal error (status 1).
class CommandRegistry {
 public:
  using Run = std::function<int(CommandIo&)>;

  explicit CommandRegistry(std::string description);

  CLI::App& app() { return app_; }
  CLI::App* Add(const std::string& name, const std::string& description, Run run);

  // Parses the arguments (without the program name) and runs the chosen
  // sub-command: its status, 0 for --help, 2 for a usage error.
  int Execute(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
  int Execute(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

 private:
  CLI::App app_;
  std::vector<std::pair<CLI::App*, Run>> commands_;
};

// "stbup: TEXT", the form of every message and error on stderr.
void PrintError(std::ostream& err, std::string_view text);

}  // namespace stbup
