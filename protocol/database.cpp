#include <cerrno>

#include "protocol/engine.h"
#include "seams/errors.h"
#include "seams/text_format.h"

namespace stbup {

namespace {

constexpr char kLineFeed = 0x0A;

std::string_view Trim(std::string_view text) {
  const auto is_space = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

// The image's folder and base name with ".tdf". On Linux "/" separates folders
// too, so a "." in a folder name cannot cut the path.
std::string UploadFileNameFor(std::string_view image_file_name) {
  if (image_file_name.empty()) return "~temp_db.tdf";
  const std::size_t separator = image_file_name.find_last_of("\\:/");
  const std::string_view folder = separator == std::string_view::npos
                                      ? std::string_view()
                                      : image_file_name.substr(0, separator + 1);
  std::string_view file =
      folder.empty() ? image_file_name : Trim(image_file_name.substr(folder.size()));
  const std::size_t dot = file.find('.');
  if (dot != std::string_view::npos) file = Trim(file.substr(0, dot));
  std::string name(folder);
  name.append(file).append(".tdf");
  return name;
}

void Engine::SyncUploadStartBlock() {
  if (state_.TargetFlashSize <= 2) {
    state_.UploadStartBlock = static_cast<std::uint32_t>(image_.StartBlock);
  }
}

void Engine::SetUploadGeometry() {
  switch (state_.TargetFlashSize) {
    case 0:
      image_.StartBlock = 768;
      image_.BlockCount = 192;
      image_.RegionIsDatabase = true;
      state_.UploadStartBlock = 768;
      break;
    case 1:
    case 2:
      image_.StartBlock = 1024;
      image_.BlockCount = 256;
      image_.RegionIsDatabase = true;
      state_.UploadStartBlock = 1024;
      break;
    default:
      break;  // 4 and 8 Mbyte boxes keep the image's region
  }
}

// The name, else the name with "-2", "-3" ... before ".tdf": an existing file
// (an earlier box's database, the image itself, a link planted there) is
// never opened, so never emptied and never followed.
std::string Engine::CreateUploadFile(const std::string& name) {
  constexpr int kMaxNames = 99;
  const std::string stem = name.ends_with(".tdf") ? name.substr(0, name.size() - 4) : name;
  for (int attempt = 1;; ++attempt) {
    const std::string candidate =
        attempt == 1 ? name : stem + "-" + std::to_string(attempt) + ".tdf";
    const int error = state_.UploadStream.CreateNew(working_folder_.Resolve(candidate));
    if (error == 0) return candidate;
    if (error != EEXIST || attempt == kMaxNames) throw EFileError::CannotCreate(candidate, error);
  }
}

// "ack": ask the box for its database region and create the receiving file.
void Engine::StartDatabaseUpload(const Message&) {
  if (check_only_) {
    Memo(">> check-only: the box's database request (\"ack\") is not answered");
    return;
  }
  Reply("REQUEST_DOWNLOAD");
  link_.WriteChar(kLineFeed);
  SetUploadGeometry();
  // A second "ack" asks again into the file the first one created.
  if (!state_.UploadStream.IsOpen()) {
    state_.UploadFileName = CreateUploadFile(UploadFileNameFor(image_.ImageFileName));
  }
  Memo("-. Database request into " + state_.UploadFileName);
  Reply("REQUEST_1024DOWN:");
  Reply(FormatBlockNumber(state_.UploadStartBlock));
  link_.WriteChar(kLineFeed);
}

}  // namespace stbup
