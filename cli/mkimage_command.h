#pragma once

#include <string>

#include "cli/command_registry.h"
#include "image/image_writer.h"

namespace stbup {

struct MkimageOptions {
  std::string payload;
  std::string output;
  std::string format = "old";
  std::string type = "C";
  std::string hardware = "00.00.00";
  std::string software = "00.00.00";
  std::string reserved = "00.00.00";
  std::int32_t start_block = 0;
  std::string model = "MODEL";
  std::string code;      // empty: the tool's own check code
  std::string wildcard;  // "model" or "hardware"
};

// stbup mkimage [options] PAYLOAD OUTPUT: writes an image file around a payload.
void AddMkimageCommand(CommandRegistry& registry);
int RunMkimage(const MkimageOptions& options, CommandIo& io);

// The recipe the options describe; throws std::invalid_argument with the
// reason when they do not describe an image that loads back as written.
ImageSpec MkimageSpec(const MkimageOptions& options);

}  // namespace stbup
