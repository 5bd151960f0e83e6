#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/window_controls.h"

namespace stbup {

class Dialogs;
class TMainFrm;

// What only TMainFrm has, for the window logic: cbPort's selection, the
// caption, the window's place, closing, and the current directory.
class FrameControls : public WindowControls {
 public:
  explicit FrameControls(TMainFrm& frame) : frame_(frame) {}

  void SelectPort(int index) override;
  void SetPortChoices(const std::vector<std::string>& labels) override;
  void SetCaption(std::string_view caption) override;
  void SetPosition(int left, int top) override;
  bool CloseWindow() override;
  void Terminate() override;
  std::string CurrentDirectory() const override;
  bool SetCurrentDirectory(std::string_view directory) override;

 private:
  TMainFrm& frame_;
};

// OD1 over the window's dialogs, with the filter in the form Win32 takes.
class FrameFileDialog : public FileDialog {
 public:
  FrameFileDialog(TMainFrm& frame, Dialogs& dialogs) : frame_(frame), dialogs_(dialogs) {}

  std::optional<std::string> Execute(std::string_view initial_directory, std::string_view filter,
                                     std::string_view default_extension) override;

 private:
  TMainFrm& frame_;
  Dialogs& dialogs_;
};

}  // namespace stbup
