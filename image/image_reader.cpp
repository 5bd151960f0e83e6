#include "image/image_reader.h"

#include <cerrno>
#include <stdexcept>

#include "image/check_code.h"
#include "image/image_file.h"
#include "image/image_loader.h"
#include "image/image_parser.h"
#include "seams/errors.h"

namespace stbup {

namespace {

// Loading without a window: nothing is shown, edits read back empty.
class DiscardingView : public View {
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

}  // namespace

ImageInfo ReadImageInfo(const std::string& path) {
  ImageInfo info;
  info.ImageFileName = path;
  DiscardingView view;
  const LoaderContext ctx{"", BuildImageCheckCode()};
  if (!CanOpenImageFile(path) && !CanOpenImageFile(path)) {
    throw EFileError::CannotOpen(path, errno);
  }
  if (!LoadImage(info, view, ctx)) {
    // A file that opened a moment ago was refused, unless it has just gone.
    if (!CanOpenImageFile(path)) throw EFileError::CannotOpen(path, errno);
    throw std::runtime_error(std::string(kRefusedLine));
  }
  return info;
}

}  // namespace stbup
