#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace stbup {

// Which file a load read, and as it was then: the download sends from this
// very file and stops if it has been replaced or changed since.
struct ImageFileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = -1;
  std::int64_t modified_ns = 0;
  bool operator==(const ImageFileIdentity&) const = default;
};

// The identification and geometry of the loaded image: one per process,
// overwritten field by field by each load, read by every protocol handler.
struct ImageInfo {
  static constexpr int kHeaderCopySize = 101;

  std::string ImageFileName;
  std::array<std::uint8_t, kHeaderCopySize> HeaderCopy{};
  std::array<std::int32_t, 3> HardwareVersion{};
  std::array<std::int32_t, 3> SoftwareVersion{};
  std::int32_t StartBlock = 0;
  std::string TypeName = "NONE";
  std::string ModelName;
  std::int32_t SignatureEnabled = 0;
  std::uint8_t ScrambleEnabled = 0;
  std::uint8_t ModelCheckWaived = 0;
  std::uint8_t HardwareCheckWaived = 0;
  std::int32_t PayloadOffset = 0;
  std::int32_t PayloadSize = 0;
  std::int32_t PayloadBytesRead = 0;
  std::int32_t PaddedSize = 0;
  std::int32_t BlockCount = 0;
  // Set by each accepted load; a refused or unopenable file leaves size -1.
  ImageFileIdentity SourceIdentity;
  // True while StartBlock and BlockCount hold the database region a box's
  // "ack" set; the next load gives them back to the image.
  bool RegionIsDatabase = false;
};

}  // namespace stbup
