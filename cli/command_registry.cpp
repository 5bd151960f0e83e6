#include "cli/command_registry.h"

#include <exception>
#include <ostream>

namespace stbup {

CommandRegistry::CommandRegistry(std::string description) : app_(std::move(description), "stbup") {
  app_.require_subcommand(1);
  // The same options on every platform: on Windows "/x" is not an option (an
  // argument beginning with "/" stays an argument).
  app_.allow_windows_style_options(false);
}

CLI::App* CommandRegistry::Add(const std::string& name, const std::string& description, Run run) {
  CLI::App* sub = app_.add_subcommand(name, description);
  commands_.emplace_back(sub, std::move(run));
  return sub;
}

int CommandRegistry::Execute(const std::vector<std::string>& args, std::ostream& out,
                             std::ostream& err) {
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app_.parse(reversed);
  } catch (const CLI::ParseError& error) {
    const int status = app_.exit(error, out, err);
    return status == 0 ? kExitOk : kExitUsage;
  }
  for (auto& [sub, run] : commands_) {
    if (!sub->parsed()) continue;
    try {
      CommandIo io{out, err};
      return run(io);
    } catch (const std::exception& error) {
      PrintError(err, error.what());
      return kExitInternalError;
    }
  }
  return kExitUsage;
}

int CommandRegistry::Execute(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return Execute(args, out, err);
}

void PrintError(std::ostream& err, std::string_view text) { err << "stbup: " << text << '\n'; }

}  // namespace stbup
