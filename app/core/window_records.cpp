#include "app/core/window_records.h"

#include <array>
#include <filesystem>
#include <map>
#include <ostream>

namespace stbup {
namespace {

struct WindowOption {
  std::string_view name;
  std::optional<std::string> WindowArguments::*value;
};

constexpr std::array<WindowOption, 3> kWindowOptions = {{
    {"--station-name", &WindowArguments::station_name},
    {"--operator", &WindowArguments::operator_name},
    {"--order", &WindowArguments::work_order},
}};

// The records section's values, by name; what cannot be read is a problem.
std::map<std::string, std::string, std::less<>> ReadRecordsSection(
    Settings& settings, std::vector<std::string>& problems) {
  std::map<std::string, std::string, std::less<>> values;
  if (!settings.OpenKey(kRecordsKeyPath, false)) return values;
  for (const char* name : {"File", "Server", "StationName", "Operator", "WorkOrder"}) {
    try {
      values[name] = settings.ReadString(name);
    } catch (const std::exception& error) {
      problems.push_back(std::string(error.what()) + " in the settings' records section");
    }
  }
  settings.CloseKey();
  return values;
}

std::string FirstOf(std::initializer_list<std::string_view> choices) {
  for (std::string_view choice : choices) {
    if (!choice.empty()) return std::string(choice);
  }
  return {};
}

}  // namespace

WindowArguments ParseWindowArguments(const std::vector<std::string>& arguments) {
  WindowArguments parsed;
  bool image_given = false;
  bool options_over = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (options_over || argument.rfind("--", 0) != 0) {
      // Later plain arguments are ignored, as the window always has.
      if (!image_given) parsed.image = argument;
      image_given = true;
      continue;
    }
    if (argument == "--") {
      options_over = true;
      continue;
    }
    const std::size_t equals = argument.find('=');
    const std::string_view name = std::string_view(argument).substr(0, equals);
    const WindowOption* option = nullptr;
    for (const WindowOption& known : kWindowOptions) {
      if (known.name == name) option = &known;
    }
    if (option == nullptr) throw WindowUsageError("unknown option " + std::string(name));
    if (equals != std::string::npos) {
      parsed.*(option->value) = argument.substr(equals + 1);
    } else if (i + 1 < arguments.size()) {
      parsed.*(option->value) = arguments[++i];
    } else {
      throw WindowUsageError(std::string(name) + " needs a value");
    }
  }
  return parsed;
}

WindowRecords ChooseWindowRecords(Settings& settings, const WindowArguments& arguments,
                                  const RecordsSurroundings& surroundings) {
  WindowRecords chosen;
  auto saved = ReadRecordsSection(settings, chosen.problems);
  const auto environment = [&](const char* name) {
    return surroundings.environment ? surroundings.environment(name) : std::string();
  };
  const auto given = [](const std::optional<std::string>& value, std::string_view otherwise) {
    return value ? std::optional<std::string>(*value)
                 : (otherwise.empty() ? std::nullopt : std::optional<std::string>(otherwise));
  };

  chosen.file = FirstOf({environment("STBUP_RECORDS"), saved["File"], surroundings.default_file});
  if (!chosen.file.empty()) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(chosen.file, error);
    if (!error) chosen.file = absolute.string();
  }
  chosen.server = FirstOf({environment("STBUP_RECORDS_SERVER"), saved["Server"]});
  chosen.station_name = FirstOf({arguments.station_name.value_or(std::string()),
                                 saved["StationName"], surroundings.host_name});
  chosen.operator_name =
      given(arguments.operator_name, FirstOf({environment("STBUP_OPERATOR"), saved["Operator"]}));
  if (chosen.operator_name && chosen.operator_name->empty()) chosen.operator_name.reset();
  chosen.work_order = given(arguments.work_order, saved["WorkOrder"]);
  if (chosen.work_order && chosen.work_order->empty()) chosen.work_order.reset();
  return chosen;
}

std::optional<WindowArguments> WindowArgumentsOrUsage(int argc, char** argv, std::ostream& err) {
  try {
    return ParseWindowArguments(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const WindowUsageError& error) {
    err << "stbup-gui: " << error.what() << '\n' << kWindowUsage << std::endl;
    return std::nullopt;
  }
}

}  // namespace stbup
