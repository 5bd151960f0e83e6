#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "image/image_info.h"

namespace stbup {

// How the simulated loader announces itself; the first two are the 5518
// family, REQUEST_L the 2LL family.
enum class LoaderAnnouncement {
  kVersion,  // "REQUEST_V" + version digits
  kMode,     // "REQUEST_MODE", optionally after the 2.0.2 loader sentence
  k2LL,      // "REQUEST_L" + version digits
};

enum class LoaderFamily { k5518, k2LL };

inline LoaderFamily FamilyOf(LoaderAnnouncement announcement) {
  return announcement == LoaderAnnouncement::k2LL ? LoaderFamily::k2LL : LoaderFamily::k5518;
}

inline constexpr int kFlashInfoSize = 33;

// Everything one simulated box (or a row of them) does, faults included.
struct SimulatorOptions {
  // --- who the box is
  LoaderAnnouncement announcement = LoaderAnnouncement::kVersion;
  std::string version_digits = "217";
  bool mode_sentence = false;             // the "Version 2.0.2(new)" line before REQUEST_MODE
  bool flash_end_after_info_end = false;  // a 2LL box asking BL_FLASH_END as well
  // The raw flash-information record; bytes 4 (size code), 5 and 6 (chip) matter
  // to the tool. Default: 2 Mbyte, SST 0x2782.
  std::array<std::uint8_t, kFlashInfoSize> flash_record = [] {
    std::array<std::uint8_t, kFlashInfoSize> record{};
    record[4] = 0x21;
    record[5] = 0x27;
    record[6] = 0x82;
    return record;
  }();
  // Tokens accepted for each image-type question in turn (the last one repeats);
  // empty: any known token.
  std::vector<std::string> expect_tokens;
  // Fields 1 to 3 of REQUEST_VERSION, and the identity; unset identity comes
  // from the image when there is one.
  std::string version_fields = "00,00,00";
  std::optional<std::string> model;
  std::optional<std::array<std::int32_t, 3>> hardware_version;
  std::optional<std::array<std::int32_t, 3>> software_version;

  // --- the dialogue
  bool reqdata = false;                     // also ask REQDATA_START_BLOCK and REQDATA_BLOCK
  std::optional<std::int32_t> decode_size;  // SEND_DECODE_SIZE:N after RAMCRC_SUCCESS
  bool bad_flash_crc = false;               // report "BAD CRC : Flash image !!"
  bool restart_notice = false;              // "NO_ACKNOWLEDGE with PC." after the end
  std::string target_info;                  // a "TargetInfo:" line after ACK when set
  std::string flash_write_error;            // a "FLASH_WRITE_ERROR" line when set
  bool database_ack = false;                // an "ack" line after UPGRADE_SUCCESS
  int max_retries = 8;                      // per block, before the box gives up

  // --- time limits of the box, in milliseconds
  int ack_timeout_ms = 5000;
  int token_timeout_ms = 5000;
  int reply_timeout_ms = 5000;  // numbers, blocks, the total checksum
  int restart_gap_ms = 300;     // a power cycle between boxes of a repeat
  // The operator switches the box on this long after the tool's first byte;
  // what the tool sends before is lost (0: the box is on from the start).
  int power_on_ms = 0;

  // --- faults and line emulation
  std::set<std::int32_t> corrupt_blocks;  // flip a byte on first receipt
  std::optional<std::int32_t> silent_after;
  std::optional<std::int32_t> hangup_after;
  bool noise = false;
  bool chunked = false;
  int slow_ms = 0;
  int baud = 0;  // 0: as fast as the fd goes
  // A USB adapter's latency timer between box and tool (0: none); see LinePacing.
  int adapter_latency_ms = 0;
  int repeat = 1;
  std::uint32_t seed = 1;
  // A pty whose tool end may close and reopen between boxes: a hang-up while
  // waiting for the wake-up byte is waited out instead of ending the run.
  bool wait_for_reconnect = false;

  // --- verification
  std::optional<ImageInfo> image;  // read from image->ImageFileName
  std::string out_path;            // the received region is written here when set
};

}  // namespace stbup
