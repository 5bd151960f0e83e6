#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "image/image_info.h"
#include "protocol/exchange_state.h"
#include "protocol/message.h"
#include "seams/link.h"
#include "seams/poll_timer.h"
#include "seams/view.h"
#include "seams/working_folder.h"

namespace stbup {

// What the engine asks of the window beyond the View: the connection reset
// that "NO_ACKNOWLEDGE with PC." runs before the port is closed.
class ConnectionControl {
 public:
  virtual ~ConnectionControl() = default;
  virtual void ResetConnection() = 0;
};

// Milestones of a run that front ends act on (exit statuses, summaries).
enum class RunEvent {
  kAnnounced,            // a loader announced itself: a box's dialogue begins
  kAccepted,             // the identification passed the checks ("ack" answered, unless check-only)
  kRefused,              // "Upgrade Fail"
  kUpgradeSuccess,       // "UPGRADE_SUCCESS" after a whole download, the total checksum
                         // and a successful flash check with no flash-write error
  kSuccessAfterFailure,  // "UPGRADE_SUCCESS" without all of that: the box
                         // reported success after a failure (SuccessFailures says which)
  kNormalStart,          // "NO_ACKNOWLEDGE with PC."
};

// How far a box's run has come, for front ends that show its phase: news,
// never an ending (those are RunEvents).
enum class RunProgress {
  kIdentified,    // the box told its model and versions ("REQUEST_VERSION")
  kDownloading,   // a block was prepared for the box: DownloadBytes() has moved
  kFlashWriting,  // the box started writing its flash ("FLASH_WRITE")
};

// A warning the checks gave about a box: the line that says why, and every
// line shown for it (rules and banners included).
struct RunWarning {
  std::string reason;
  std::vector<std::string> lines;
};

// What the box's download came to, counted from its loader's announcement;
// the records keep it.
struct DownloadTally {
  std::int32_t BlocksSent = 0;     // blocks the box accepted ("1024DOWN_SUCCESS")
  std::int32_t BlocksRetried = 0;  // blocks the box asked again ("1024DOWN_ERR")
};

// The upgrade engine: received bytes in, replies out through the Link,
// everything shown through the View. No thread, no descriptor, no toolkit.
class Engine {
 public:
  Engine(ImageInfo& image, View& view, Link& link, PollTimer& timer, ConnectionControl& window);

  // VaComm1RxChar: the window hands over what ReadText() returned.
  void Receive(std::string_view chunk);
  // Timer1Timer: the poll byte 0x1F.
  void Timer1Timer();
  // Ends a run: setup controls on, framing and counters cleared.
  void EndRun();
  // ResetConnection's step 2: CollectingFlashInfo, LineText, TotalChecksum, ProgressCounter.
  void ClearExchange();
  // The window going away: close the download source and the upload file.
  void CloseFiles();
  // The port-off lines: the port is closed and Enter reconnects.
  void LogPortOff(const std::string& device);

  // Called after the engine has shown the milestone.
  void SetRunEventHandler(std::function<void(RunEvent)> handler) {
    on_run_event_ = std::move(handler);
  }
  // Called after the engine has shown the progress.
  void SetProgressHandler(std::function<void(RunProgress)> handler) {
    on_progress_ = std::move(handler);
  }
  // Where names the engine opens by themselves are taken from: the image
  // reopened for its download, the database upload's file.
  void SetWorkingFolder(WorkingFolder folder) { working_folder_ = std::move(folder); }
  const WorkingFolder& GetWorkingFolder() const { return working_folder_; }
  // Check-only: every identification step and check runs and is shown, but an
  // accepted box is not answered "ack", so no data moves.
  void SetCheckOnly(bool check_only) { check_only_ = check_only; }

  ExchangeState& State() { return state_; }
  const ExchangeState& State() const { return state_; }
  const DownloadTally& Tally() const { return tally_; }
  // The loader's version as the caption shows it ("L 217"), from its
  // announcement on.
  const std::string& LoaderLabel() const { return loader_label_; }
  // The download's bytes shown as done and its region's size in bytes.
  long long DownloadBytesDone() const { return download_done_; }
  long long DownloadBytesTotal() const { return download_total_; }
  // The warnings given since the box's loader announced itself, in order.
  const std::vector<RunWarning>& Warnings() const { return warnings_; }

  // What the run still lacks for a verified success, in words ("flash-write
  // error", "no whole download", ...); empty when the run would be verified.
  std::vector<std::string> MissingForSuccess() const;
  // The reasons of the last kSuccessAfterFailure, joined by ", ".
  const std::string& SuccessFailures() const { return success_failures_; }
  // Every block of the region the last download started for was taken by
  // the box from an intact source.
  bool WholeRegionDownloaded() const;

 private:
  // The dispatcher: normalisation of the loader forms, then the ordered table.
  void HandleMessage(Message message);
  void DispatchLine();
  // Runs one line's handling; an error is shown and the chunk goes on.
  template <typename Step>
  void Guarded(Step&& step);

  // Identification (announcements, echoes, "REQUEST_VERSION").
  void FlashWriteError(const Message& message);
  void TargetInfoLine(const Message& message);
  void LoaderSentence(const Message& message);
  void RequestMode(const Message& message);
  void RequestV(const Message& message);
  void RequestL(const Message& message);
  void AnnounceVersionedLoader(const Message& message);
  // A new box's dialogue: its tally starts afresh and front ends hear of it.
  void BoxAnnounced();
  void RequestVersion(const Message& message);
  void Accept();
  void Refuse();

  // Image-type negotiation.
  void BlInfoEnd(const Message& message);
  void BlFlashEnd(const Message& message);

  // Compatibility checks; each writes CheckStatus.
  void ModelCheck(std::string_view image_model, std::string_view box_model);
  void ModelFamilyCheck(std::string_view image_model, std::string_view box_model);
  void HardwareCheck(const std::array<std::int32_t, 3>& image_hw,
                     const std::array<std::int32_t, 3>& box_hw);
  void SoftwareCheck(const std::array<std::int32_t, 3>& image_sw,
                     const std::array<std::int32_t, 3>& box_sw);

  // Flash report and size guard.
  void BlFlashInfo(const Message& message);
  void FlashReport(const Message& message);
  void SizeGuard();

  // Block download.
  void Ack(const Message& message);
  void RequestStartBlock(const Message& message);
  void RequestBlock(const Message& message);
  void ReqdataBlock(const Message& message);
  void RequestDownload(const Message& message);
  void Request1024Down(const Message& message);
  void Down1024Err(const Message& message);
  void Down1024Success(const Message& message);
  void PrepareFirstBlock();
  void SendBlock();
  void AdvanceBlock();
  // Reads slice index into DataBuffer; a failing source stops the download.
  int ReadSlice(std::int64_t index);
  void CheckSourceUnchanged();
  // Prepares any block again as the sequence would have prepared it.
  void PrepareBlockAt(std::int64_t index);
  // The signature and key rules of a block after block 0 that held n bytes.
  void ApplyLaterBlockRules(int n, bool last_of_region);
  bool IsLastOfRegion(std::int64_t index) const;
  // Books the buffered block into TotalChecksum the first time the box takes
  // it; false when it was booked already.
  bool BookBufferedBlock();
  void ShowDownloadProgress();
  void SubtractKey(int count);
  void PadBlock();
  void BuildSignatureBlock();
  // Adds count signature bytes from signature_from onto the block from block_from.
  void AddSignature(int signature_from, int block_from, int count);

  // Verification and flash write.
  void RequestTotalCrc(const Message& message);
  void DownSuccess(const Message& message);
  void RamCrcSuccess(const Message& message);
  void SendDecodeSize(const Message& message);
  void FlashCrcSuccess(const Message& message);
  void BadFlashCrc(const Message& message);
  void FlashWrite(const Message& message);
  void FlashWrite4096(const Message& message);
  void UpgradeSuccess(const Message& message);
  void ResponseDownloadFail(const Message& message);
  void NormalStart(const Message& message);

  // Database upload.
  void StartDatabaseUpload(const Message& message);
  // Creates the receiving file under a name not yet taken, never through a
  // link and never over the image; returns the name used.
  std::string CreateUploadFile(const std::string& name);
  void SetUploadGeometry();
  void SyncUploadStartBlock();

  // Label3 is a growing description; the engine remembers the colour it set.
  void SetLabel3(std::string_view caption);
  void AppendLabel3(std::string_view suffix);
  void Memo(std::string_view line) { view_.AddMemoLine(line); }
  void Reply(std::string_view text) { link_.WriteText(text); }
  void Notify(RunEvent event) {
    if (on_run_event_) on_run_event_(event);
  }
  void Progress(RunProgress progress) {
    if (on_progress_) on_progress_(progress);
  }
  // Shows a warning's lines and keeps it for front ends.
  void Warn(std::string_view reason, std::initializer_list<std::string_view> lines);

  ImageInfo& image_;
  View& view_;
  Link& link_;
  PollTimer& timer_;
  ConnectionControl& window_;
  ExchangeState state_;
  DownloadTally tally_;
  std::function<void(RunEvent)> on_run_event_;
  std::function<void(RunProgress)> on_progress_;
  WorkingFolder working_folder_;
  std::string loader_label_;
  long long download_done_ = 0;
  long long download_total_ = 0;
  std::vector<RunWarning> warnings_;
  bool check_only_ = false;
  std::string success_failures_;
  Colour label3_colour_ = colours::kBlack;
  // The line being dispatched; swapped with LineText so that a handler's
  // error never leaves a half line glued to the next one.
  std::string dispatch_line_;
};

// Half to even, as every progress figure is rounded.
double RoundHalfEven(double value);

// The file that receives a database upload: the image's folder and base name
// with ".tdf", or "~temp_db.tdf" when no image is named.
std::string UploadFileNameFor(std::string_view image_file_name);

}  // namespace stbup
