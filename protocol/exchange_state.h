#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/scramble_key.h"
#include "protocol/file_stream.h"
#include "protocol/target_info.h"

namespace stbup {

inline constexpr std::int32_t kLoader5518 = 0;  // LoaderKind of the 5518 family
inline constexpr std::int32_t kLoader2LL = 1;   // LoaderKind of the 2LL family

// The verdict of the compatibility checks, kept in CheckStatus.
enum class CheckVerdict : std::uint8_t {
  kGoOn = 0,
  kRefuse = 1,
  kAcceptNow = 2,
  kSameFamily = 3,  // set only by the model check: skip the model-family check
};

// The protocol state kept once per window for its whole life; handlers read
// it and change it, nothing else holds exchange state.
struct ExchangeState {
  static constexpr int kFlashInfoSize = 33;
  static constexpr int kSignatureSize = 28;
  // A peer cannot grow the line being assembled beyond this; further bytes up
  // to the line feed are dropped.
  static constexpr std::size_t kMaxLineText = 64 * 1024;

  std::string LineText;
  bool CollectingFlashInfo = false;
  std::int32_t FlashInfoCount = 0;
  // Bytes 0 to 32 receive the flash-info record; the same storage holds the
  // outgoing data block.
  std::array<std::uint8_t, kBlockSize> DataBuffer{};
  std::string BrandText = "TAVO";
  std::int32_t LoaderKind = kLoader5518;
  std::uint32_t LoaderVersion = 0;
  std::uint8_t TargetFlashSize = 0;
  std::int32_t TargetFlashId = 0;
  stbup::TargetInfo TargetInfo;
  CheckVerdict CheckStatus = CheckVerdict::kGoOn;
  bool SizeWarning = false;
  double ProgressCounter = 0;
  std::uint8_t TotalChecksum = 0;
  std::int32_t BlockBytesRead = 0;
  FileStream SourceStream;
  // What an earlier build left stays where a short model name does not reach.
  std::array<std::uint8_t, kSignatureSize> SignatureBlock{};
  std::uint32_t UploadStartBlock = 0;
  std::string UploadFileName;
  FileStream UploadStream;

  // --- The download as the box numbers it (set at "REQUEST_DOWNLOAD") ---
  // Which 1024-byte slice of the source DataBuffer holds, counted from 0.
  std::int64_t BufferedBlock = 0;
  bool BufferedBlockSent = false;
  // The box's number for block 0, from its first numbered request (which
  // names the block prepared then): boxes count from 0 or from the start block.
  std::optional<std::int64_t> FirstRequestNumber;
  // The region the download was started for, and which of its blocks the box
  // has taken (each is booked into TotalChecksum once).
  std::int32_t DownloadBlocks = 0;
  std::vector<bool> BlockBooked;
  std::int32_t BlocksBooked = 0;
  // What the first block's preparation saw, so any block can be prepared
  // again exactly as the sequence would have prepared it.
  double DownloadStartProgress = 0;
  std::int64_t DownloadStartPayloadRead = 0;
  bool FirstBlockSigned = false;
  // The source failed (changed, short, unreadable) or the download was not
  // allowed: no block request is answered until the next "REQUEST_DOWNLOAD".
  bool DownloadStopped = false;

  // --- What the run has shown of its success (cleared with the exchange) ---
  bool TotalChecksumAnswered = false;  // answered after the whole region was taken
  bool FlashCheckPassed = false;       // "FLASHCRC_SUCCESS"
  bool FlashWriteFailed = false;       // "FLASH_WRITE_ERROR"
  bool FlashCrcBad = false;            // "BAD CRC : Flash image !!"
  bool DownloadFailed = false;         // "RESPONSE_DOWNLOAD_FAIL" since the last download start
};

}  // namespace stbup
