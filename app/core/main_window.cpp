#include "app/core/main_window.h"

#include <exception>
#include <filesystem>
#include <string>

#include "image/check_code.h"
#include "image/image_loader.h"
#include "seams/errors.h"

namespace stbup {
namespace {

constexpr std::string_view kUpgradeModeLine = "[ Upgrade mode. ]";
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
    : view_(view),
      port_(port),
      timer_(timer, view),
      link_(port, view),
      settings_(settings),
      dialog_(dialog),
      controls_(controls),
      engine_(image_, view, link_, timer_, *this) {}

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

std::string MainWindow::PortText() const { return PortName(port_index_); }

void MainWindow::SelectPort(int index) {
  port_index_ = (index >= 0 && index < kPortCount) ? index : -1;
  controls_.SelectPort(port_index_);
}

void MainWindow::FormCreate(std::string_view first_argument) {
  Guarded([&] {
    std::string argument(first_argument);
    SelectPort(0);
    port_.SetDeviceName("COM1");
    engine_.ClearExchange();
    controls_.SetPosition(kLeft, kTop);
    InitMainWindow();

    if (settings_.OpenKey(kKeyPath, false)) {
      struct KeyCloser {
        Settings& settings;
        ~KeyCloser() { settings.CloseKey(); }
      } closer{settings_};
      image_.ImageFileName = argument.empty() ? settings_.ReadString("FileName") : argument;
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
      port_.SetDeviceName(settings_.ReadString("ComPort"));
      SelectPort(StrToInt(settings_.ReadString("PortIndex")));
    } else {
      settings_.OpenKey(kKeyPath, true);
      struct KeyCloser {
        Settings& settings;
        ~KeyCloser() { settings.CloseKey(); }
      } closer{settings_};
      settings_.WriteString("FileName", "");
      settings_.WriteString("ComPort", port_.DeviceName());
      settings_.WriteString("PortIndex", "0");
      image_.ImageFileName = argument;
    }

    view_.SetEdit(Edit::kFileName, image_.ImageFileName);
    ResetConnection();
  });
}

bool MainWindow::FormClose() {
  bool saved = false;
  Guarded([&] {
    // A key that has vanished since start-up is not re-created here.
    if (settings_.OpenKey(kKeyPath, false)) {
      struct KeyCloser {
        Settings& settings;
        ~KeyCloser() { settings.CloseKey(); }
      } closer{settings_};
      settings_.WriteString("FileName", Trim(view_.EditText(Edit::kFileName)));
      settings_.WriteString("ComPort", Trim(PortText()));
      settings_.WriteString("PortIndex", std::to_string(port_index_));
    }
    saved = true;
  });
  return saved;
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
  return stbup::LoadImage(image_, view_, context);
}

void MainWindow::OpenPort() {
  port_.Open();
  view_.PortChanged(true, port_.DeviceName());
}

bool MainWindow::OpenPortOrReport() {
  try {
    OpenPort();
  } catch (const std::exception&) {
    timer_.Stop();
    view_.AddMemoLine(port_.DeviceName() + " Disconnected !");
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
  }
  link_.WriteChar(kResetByte);
}

void MainWindow::bbConnectClick() {
  Guarded([&] {
    if (!port_.Active()) ResetConnection();
  });
}

void MainWindow::cbPortChange(int index) {
  Guarded([&] {
    timer_.Stop();
    if (port_.Active()) link_.Close();
    port_index_ = (index >= 0 && index < kPortCount) ? index : -1;
    port_.SetDeviceName(PortText());
    try {
      OpenPort();
    } catch (const std::exception&) {
      view_.AddMemoLine(port_.DeviceName() + " Disconnected !");
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
    if (key == kEnter && !port_.Active()) ResetConnection();
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

}  // namespace stbup
