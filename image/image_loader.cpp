#include "image/image_loader.h"

#include "image/image_file.h"
#include "image/image_parser.h"
#include "seams/errors.h"
#include "seams/text_format.h"

namespace stbup {

namespace {

void ForgetFileName(ImageInfo& info, View& view) {
  view.SetEdit(Edit::kFileName, "");
  info.ImageFileName.clear();
}

bool Refuse(ImageInfo& info, View& view, const std::string& reason) {
  view.AddMemoLine(kRefusedLine);
  if (!reason.empty()) view.AddMemoLine(">> " + reason);
  info.TypeName = "NONE";
  info.ModelName = " ";
  info.HardwareVersion = {};
  info.SoftwareVersion = {};
  view.SetEdit(Edit::kModelName, "");
  view.SetEdit(Edit::kHV, "");
  view.SetEdit(Edit::kSV, "");
  view.SetEdit(Edit::kStartBlock, "");
  view.SetEdit(Edit::kType, "NONE");
  ForgetFileName(info, view);
  return false;
}

// The fields and edits every accepted image sets, in the order the window
// shows them.
void ShowAccepted(const ParsedImage& image, const ImageFileHead& head, ImageInfo& info,
                  View& view) {
  info.SourceIdentity = head.identity;
  info.StartBlock = *image.StartBlock;
  info.ModelName = image.ModelName;
  info.TypeName = image.TypeName;
  info.SignatureEnabled = image.SignatureEnabled;
  info.ScrambleEnabled = image.ScrambleEnabled;
  // Every load sets both waivers from its own image: a wildcard image's
  // waivers never outlive it.
  info.ModelCheckWaived = image.waive_model_check ? 1 : 0;
  info.HardwareCheckWaived = image.waive_hardware_check ? 1 : 0;
  info.PayloadOffset = image.PayloadOffset;
  const bool background = image.format != ImageFormat::kFirmware;
  view.SetEdit(Edit::kModelName, background ? "?" : image.ModelName);
  view.SetEdit(Edit::kHV, background ? "?" : FormatVersionTriple(image.HardwareVersion));
  view.SetEdit(Edit::kSV, background ? "?" : FormatVersionTriple(image.SoftwareVersion));
  view.SetEdit(Edit::kType, image.TypeName);
  view.SetEdit(Edit::kStartBlock, image.start_block_edit);
  if (image.PayloadSize) {
    info.PayloadSize = *image.PayloadSize;
    info.PayloadBytesRead = 0;
  }
  info.PaddedSize = image.geometry.PaddedSize;
  info.BlockCount = image.geometry.BlockCount;
  info.RegionIsDatabase = false;
  view.SetEdit(Edit::kStartBlock, image.start_block_edit + image.size_text);
}

}  // namespace

bool LoadImage(ImageInfo& info, View& view, const LoaderContext& ctx, const WorkingFolder& folder) {
  // Every load sets both waivers and the source from the image it loads; a
  // load that loads nothing leaves nothing of the last image to waive or send.
  info.ModelCheckWaived = 0;
  info.HardwareCheckWaived = 0;
  info.SourceIdentity = {};
  const std::string path = folder.Resolve(info.ImageFileName);
  if (!CanOpenImageFile(path) && !CanOpenImageFile(path)) {
    view.SetMemoColour(colours::kRed);
    view.AddMemoLine("\"" + info.ImageFileName + "\"");
    view.AddMemoLine(kOpenErrorLine);
    ForgetFileName(info, view);
    return false;
  }

  const ImageFileHead head = ReadImageFileHead(path);
  const ParsedImage image = ParseImage(head.bytes, head.size, ctx.image_check_code);
  info.HeaderCopy = image.HeaderCopy;

  switch (image.format) {
    case ImageFormat::kRefused:
      return Refuse(info, view, image.refusal);
    case ImageFormat::kAudioBackground:
    case ImageFormat::kRadioBackground:
      view.ClearMemo();
      for (const std::string& line : image.log_lines) view.AddMemoLine(line);
      info.HardwareVersion = {};
      info.SoftwareVersion = {};
      ShowAccepted(image, head, info, view);
      return true;
    case ImageFormat::kFirmware:
      break;
  }

  view.AddMemoLine(" ");  // a line holding one blank
  view.AddMemoLine(ctx.caption);
  view.AddMemoLine(kOpenOkLine);
  info.HardwareVersion = image.HardwareVersion;
  info.SoftwareVersion = image.SoftwareVersion;
  if (!image.StartBlock) throw EConvertError::NotAnInteger(image.start_block_text);
  for (const std::string& line : image.log_lines) view.AddMemoLine(line);
  ShowAccepted(image, head, info, view);
  return true;
}

}  // namespace stbup
