#include "app/core/main_window.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <string>

#include "image/check_code.h"
#include "image/image_loader.h"
#include "seams/errors.h"

namespace stbup {
namespace {

constexpr std::string_view kEmptyFileSize = "(  /  )";
constexpr std::string_view kConnected = "Connected";
constexpr std::string_view kDisconnected = "Disconnected";
constexpr std::string_view kOpenErrorBox = "Serial Port Open Error";
constexpr std::string_view kPortNotAvailableBox = "This Port is not Available !!";

// The framework's Trim: blanks and control characters off both ends.
std::string Trim(std::string_view text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return std::string(text.substr(first, last - first));
}

// The folder separators of the platform: "/" on Linux; on Windows "\" and "/".
constexpr std::string_view kSeparators =
    std::filesystem::path::preferred_separator == '/' ? "/" : "\\/";

// The directory part of a path, separator included; empty when it has none.
std::string DirectoryPart(std::string_view path) {
  auto slash = path.find_last_of(kSeparators);
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

// The check code is built from its pieces at start-up; the four-digit text
// and the single digits are the image library's.
std::string BuildCheckCode() { return BuildImageCheckCode(); }

}  // namespace

void MainWindow::ReportingTimer::Start(int interval_ms) {
  timer_.Start(interval_ms);
  view_.Timer1Changed(timer_.Interval());
}

void MainWindow::ReportingTimer::Stop() {
  timer_.Stop();
  view_.Timer1Changed(0);
}

void MainWindow::ReportingLink::Close() {
  bool was_open = port_.Active();
  port_.Close();
  if (was_open) view_.PortChanged(false, port_.DeviceName());
}

MainWindow::MainWindow(View& view, Port& port, PollTimer& timer, Settings& settings,
                       FileDialog& dialog, WindowControls& controls)
    : port_(port),
      view_(view, [&port] { port.SendHeldWrites(); }),
      timer_(timer, view_),
      link_(port, view_),
      settings_(settings),
      dialog_(dialog),
      controls_(controls),
      engine_(image_, view_, link_, timer_, *this) {}

MainWindow::~MainWindow() {
  try {
    engine_.CloseFiles();
  } catch (...) {
    // The window is going away; nothing is left to report to.
  }
}

template <typename Step>
void MainWindow::Guarded(Step&& step) {
  try {
    step();
  } catch (const std::exception& error) {
    view_.ReportError(error.what());
  }
}

std::string MainWindow::PortName(int index) {
  if (index < 0 || index >= kPortCount) return {};
  return "COM" + std::to_string(index + 1);
}

std::vector<PortChoice> MainWindow::ComPortChoices() {
  std::vector<PortChoice> choices;
  for (int index = 0; index < kPortCount; ++index)
    choices.push_back({PortName(index), PortName(index)});
  return choices;
}

std::string MainWindow::PortText() const {
  if (port_index_ < 0 || port_index_ >= static_cast<int>(port_choices_.size())) return {};
  return port_choices_[static_cast<std::size_t>(port_index_)].name;
}

void MainWindow::SelectPort(int index) {
  port_index_ = (index >= 0 && index < static_cast<int>(port_choices_.size())) ? index : -1;
  controls_.SelectPort(port_index_);
}

int MainWindow::ChoiceIndex(const std::string& name) {
  for (std::size_t i = 0; i < port_choices_.size(); ++i) {
    if (port_choices_[i].name == name) return static_cast<int>(i);
  }
  // A saved device that is not here now (an adapter not plugged in) is still
  // the one used: the selector shows it rather than another.
  port_choices_.push_back({name, name});
  ShowPortChoices();
  return static_cast<int>(port_choices_.size()) - 1;
}

void MainWindow::ShowPortChoices() {
  std::vector<std::string> labels;
  labels.reserve(port_choices_.size());
  for (const PortChoice& choice : port_choices_) labels.push_back(choice.label);
  controls_.SetPortChoices(labels);
  controls_.SelectPort(port_index_);
}

void MainWindow::RefreshPorts() {
  Guarded([&] {
    const std::string selected = PortText();
    std::vector<PortChoice> found;
    if (port_finder_) found = port_finder_();
    std::vector<PortChoice> choices;
    for (int index = 0; index < kPortCount; ++index) {
      const std::string name = PortName(index);
      // A COM name the system lists itself (Windows) shows once, with what
      // the system says of it.
      auto same = std::find_if(found.begin(), found.end(),
                               [&name](const PortChoice& choice) { return choice.name == name; });
      if (same != found.end()) {
        choices.push_back(std::move(*same));
        found.erase(same);
        continue;
      }
      const std::string path = port_.DevicePathOf(name);
      choices.push_back({name, path == name ? name : name + "  " + path});
    }
    for (PortChoice& other : found) choices.push_back(std::move(other));
    port_choices_ = std::move(choices);
    port_index_ = selected.empty() ? -1 : ChoiceIndex(selected);
    ShowPortChoices();
  });
}

void MainWindow::FormCreate(std::string_view first_argument) {
  const std::string argument(first_argument);
  image_.ImageFileName = argument;
  // Each step reports its own failure and start-up goes on: a window left
  // without its image or port by one bad value helps nobody.
  Guarded([&] {
    SelectPort(0);
    port_.SetDeviceName("COM1");
    engine_.ClearExchange();
    controls_.SetPosition(kLeft, kTop);
    InitMainWindow();
  });
  RefreshPorts();
  Guarded([&] { RestoreSettings(argument); });
  Guarded([&] {
    shown_file_name_ = image_.ImageFileName;
    view_.SetEdit(Edit::kFileName, image_.ImageFileName);
    ResetConnection();
  });
}

std::optional<std::string> MainWindow::ReadSetting(std::string_view name) {
  try {
    return settings_.ReadString(name);
  } catch (const std::exception& error) {
    unread_.emplace(name);
    // A store already reported as untrusted is not reported again per value.
    if (!store_untrusted_) view_.ReportError(error.what());
    return std::nullopt;
  }
}

void MainWindow::RestoreSettings(const std::string& argument) {
  if (std::string problem = settings_.Problem(); !problem.empty()) {
    // Said once; the file is then read for what it gives and never written.
    store_untrusted_ = true;
    view_.ReportError(problem);
  }
  if (settings_.OpenKey(kKeyPath, false)) {
    struct KeyCloser {
      Settings& settings;
      ~KeyCloser() { settings.CloseKey(); }
    } closer{settings_};
    if (argument.empty()) {
      if (auto saved = ReadSetting("FileName")) image_.ImageFileName = *saved;
    }
    // A relative name would no longer be found once its own folder is the
    // current directory, so it is anchored where it was given first.
    if (!image_.ImageFileName.empty() &&
        !std::filesystem::path(image_.ImageFileName).is_absolute() &&
        !DirectoryPart(image_.ImageFileName).empty()) {
      image_.ImageFileName = controls_.CurrentDirectory() + "/" + image_.ImageFileName;
    }
    std::string directory = DirectoryPart(image_.ImageFileName);
    // A folder that cannot be entered leaves the current one; the load
    // then tells the operator whether the file is found.
    if (!directory.empty()) controls_.SetCurrentDirectory(directory);
    // Whatever the folder became: the files opened by name are taken from it.
    engine_.SetWorkingFolder(WorkingFolder(controls_.CurrentDirectory()));
    const auto com_port = ReadSetting("ComPort");
    const auto port_index = ReadSetting("PortIndex");
    RestorePort(com_port, port_index);
  } else if (!store_untrusted_) {
    settings_.OpenKey(kKeyPath, true);
    struct KeyCloser {
      Settings& settings;
      ~KeyCloser() { settings.CloseKey(); }
    } closer{settings_};
    settings_.WriteString("FileName", "");
    settings_.WriteString("ComPort", port_.DeviceName());
    settings_.WriteString("PortIndex", "0");
  }
}

// "ComPort" is the port used and the selector shows it; "PortIndex" only
// stands in when "ComPort" is empty. A bad index is said once and replaced.
void MainWindow::RestorePort(const std::optional<std::string>& com_port,
                             const std::optional<std::string>& port_index) {
  int index = -1;
  if (port_index) {
    try {
      index = StrToInt(*port_index);
      if (index < 0 || index >= static_cast<int>(port_choices_.size())) {
        index = -1;
        if (!store_untrusted_) view_.ReportError("'" + *port_index + "' is not a valid port index");
      }
    } catch (const std::exception& error) {
      if (!store_untrusted_) view_.ReportError(error.what());
    }
  }
  const std::string device = Trim(com_port.value_or(""));
  if (!device.empty()) {
    port_.SetDeviceName(device);
    SelectPort(ChoiceIndex(device));
    return;
  }
  SelectPort(index >= 0 ? index : 0);
  port_.SetDeviceName(PortText());
}

bool MainWindow::FormClose() {
  if (store_untrusted_) return true;
  Guarded([&] {
    // A key that has vanished since start-up is not re-created here.
    if (!settings_.OpenKey(kKeyPath, false)) return;
    struct KeyCloser {
      Settings& settings;
      ~KeyCloser() { settings.CloseKey(); }
    } closer{settings_};
    const std::string file_name = Trim(view_.EditText(Edit::kFileName));
    try {
      // What start-up could not read is kept unless the operator changed it.
      if (!unread_.contains("FileName") || file_name != Trim(shown_file_name_)) {
        settings_.WriteString("FileName", file_name);
      }
      if (port_picked_ || (!unread_.contains("ComPort") && !unread_.contains("PortIndex"))) {
        settings_.WriteString("ComPort", Trim(PortText()));
        settings_.WriteString("PortIndex", std::to_string(port_index_));
      }
    } catch (const std::exception& error) {
      // The window closes all the same: said once, not again per value.
      view_.ReportError(std::string(error.what()) + ". The settings were not saved.");
    }
  });
  return true;
}

void MainWindow::InitMainWindow() {
  engine_.State().BrandText = std::string(kBrandText);
  image_.SignatureEnabled = 0;
  image_check_code_ = BuildCheckCode();
  caption_ = std::string(kCaptionPrefix) + std::string(kVersionText);
  controls_.SetCaption(caption_);
  // The banner is shown from now on, on grey; its text is the logo text.
  view_.SetLogo(kLogoText, std::nullopt, colours::kGrey);
}

bool MainWindow::LoadImage() {
  LoaderContext context;
  context.caption = caption_;
  context.image_check_code = image_check_code_;
  return stbup::LoadImage(image_, view_, context, engine_.GetWorkingFolder());
}

void MainWindow::OpenPort() {
  port_.Open();
  view_.PortChanged(true, port_.DeviceName());
}

void MainWindow::LogOpenFailure() {
  view_.AddMemoLine(port_.DeviceName() + " Disconnected !");
  // Under the box the operator is about to see, the log says what to do.
  if (std::string reason = port_.OpenFailureReason(); !reason.empty()) {
    view_.AddMemoLine(">> " + reason);
  }
}

bool MainWindow::OpenPortOrReport() {
  try {
    OpenPort();
  } catch (const std::exception&) {
    timer_.Stop();
    LogOpenFailure();
    view_.ShowMessage(kOpenErrorBox);
    view_.ShowConnect(true, kDisconnected);
    return false;
  }
  view_.ShowConnect(false, kConnected);
  return true;
}

void MainWindow::EnableSetupControls(bool enabled) { view_.EnableSetupControls(enabled); }

void MainWindow::ResetConnection() {
  EnableSetupControls(true);
  engine_.ClearExchange();
  view_.AddMemoLine(kUpgradeModeLine);
  timer_.Start(PollTimer::kPollInterval);
  view_.SetProgress(ProgressBar::kPb1, 0);
  view_.SetProgress(ProgressBar::kPb2, 0);
  view_.SetFileSize(kEmptyFileSize);
  if (LoadImage() && !port_.Active()) {
    if (OpenPortOrReport()) {
      view_.SetLogo(kLogoText, colours::kButtonHighlight, colours::kGrey);
    }
  } else if (port_.Active()) {
    // Restarted on the port a run left open: connected and polling again.
    view_.ShowConnect(false, kConnected);
  }
  link_.WriteChar(kResetByte);
}

// The exchange restarts whenever no run is in progress, port open or not:
// after "UPGRADE_SUCCESS" without the box's restart notice the port is still
// open, and the next box has to be woken.
void MainWindow::bbConnectClick() {
  Guarded([&] {
    if (!RunInProgress()) ResetConnection();
  });
}

void MainWindow::cbPortChange(int index) {
  Guarded([&] {
    timer_.Stop();
    if (port_.Active()) link_.Close();
    port_index_ = (index >= 0 && index < static_cast<int>(port_choices_.size())) ? index : -1;
    port_picked_ = true;
    port_.SetDeviceName(PortText());
    try {
      OpenPort();
    } catch (const std::exception&) {
      LogOpenFailure();
      view_.ShowMessage(kPortNotAvailableBox);
      view_.ShowConnect(true, kDisconnected);
      return;
    }
    view_.ShowConnect(false, kConnected);
    view_.AddMemoLine(port_.DeviceName() + " Connected !");
    timer_.Start(PollTimer::kPollInterval);
  });
}

void MainWindow::FormKeyPress(char key) {
  Guarded([&] {
    if (key == kEnter && !RunInProgress()) ResetConnection();
  });
}

void MainWindow::Open1Click() {
  Guarded([&] {
    auto chosen = dialog_.Execute(controls_.CurrentDirectory(), kFileFilter, kDefaultExtension);
    if (!chosen) return;
    view_.SetEdit(Edit::kFileName, *chosen);
    image_.ImageFileName = view_.EditText(Edit::kFileName);
    if (LoadImage() && !port_.Active()) OpenPortOrReport();
  });
}

void MainWindow::Exit1Click() {
  Guarded([&] {
    // A window kept open by a failed save does not end the tool.
    if (controls_.CloseWindow()) controls_.Terminate();
  });
}

void MainWindow::Timer1Timer() {
  Guarded([&] { engine_.Timer1Timer(); });
}

void MainWindow::VaComm1RxChar() {
  Guarded([&] { engine_.Receive(link_.ReadText()); });
}

void MainWindow::VaComm1DeviceLost() {
  Guarded([&] {
    if (!port_.Active()) return;
    const std::string device = port_.DeviceName();
    const bool run_cut = RunInProgress();
    timer_.Stop();
    engine_.CloseFiles();
    engine_.EndRun();
    link_.Close();
    view_.AddMemoLine(">> " + device + " has gone away (unplugged or hung up).");
    engine_.LogPortOff(device);
    // The banner keeps the last outcome ("Upgrade End!") unless the loss
    // cut a run short.
    if (run_cut) view_.SetLogo("Disconnected !", std::nullopt, std::nullopt);
    view_.ShowConnect(true, kDisconnected);
  });
}

}  // namespace stbup
