#pragma once

#include "seams/view.h"

namespace stbup {

// A View that shows nothing and reads every edit back empty: loading an image
// without a window, benchmarks, harnesses that override what they watch.
class NullView : public View {
 public:
  void AddMemoLine(std::string_view) override {}
  void ClearMemo() override {}
  void SetMemoColour(Colour) override {}
  std::string Label3Caption() const override { return {}; }
  void SetLabel3(std::string_view, Colour) override {}
  void SetLogo(std::optional<std::string_view>, std::optional<Colour>,
               std::optional<Colour>) override {}
  void SetProgress(ProgressBar, int) override {}
  void SetFileSize(std::string_view) override {}
  void ShowConnect(bool, std::string_view) override {}
  void EnableSetupControls(bool) override {}
  void SetEdit(Edit, std::string_view) override {}
  std::string EditText(Edit) const override { return {}; }
  void ShowMessage(std::string_view) override {}
  void ReportError(std::string_view) override {}
  void Beep() override {}
};

}  // namespace stbup
