#include <iostream>

#include "cli/command_registry.h"
#include "cli/demo_command.h"
#include "cli/history_command.h"
#include "cli/info_command.h"
#include "cli/mkimage_command.h"
#include "cli/platform.h"
#include "cli/ports_command.h"
#include "cli/records_command.h"
#include "cli/upgrade_command.h"
#include "cli/version_text.h"

int main(int argc, char** argv) {
  stbup::CommandRegistry registry(
      "stbup: firmware upgrades of set-top boxes over a serial line, and image tools");
  // One line per sub-command; each lives in its own cli/<name>_command.* file.
  registry.app().set_version_flag(
      "--version", stbup::VersionText,
      "Show the versions of stbup and of the records' libraries inside it");
  stbup::AddInfoCommand(registry);
  stbup::AddMkimageCommand(registry);
  stbup::AddUpgradeCommand(registry);
  stbup::AddHistoryCommand(registry);
  stbup::AddRecordsCommand(registry);
  stbup::AddPortsCommand(registry);
  stbup::AddDemoCommand(registry);
  stbup::AddPlatformCommands(registry);
  stbup::PrepareStandardStreams();
  return registry.Execute(argc, argv, std::cout, std::cerr);
}
