#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <exception>
#include <optional>

#include "protocol/engine.h"
#include "seams/errors.h"
#include "seams/text_format.h"

namespace stbup {

namespace {

constexpr int kSignature = ExchangeState::kSignatureSize;
constexpr int kTrailerStart = kBlockSize - kSignature;  // 996

std::uint8_t BlockSum(const std::array<std::uint8_t, kBlockSize>& block) {
  // The wire wants the sum mod 256, so a byte accumulator is exact, and the
  // compiler adds sixteen bytes or more at a time without widening them.
  std::uint8_t sum = 0;
  for (const std::uint8_t byte : block) sum = static_cast<std::uint8_t>(sum + byte);
  return sum;
}

}  // namespace

void Engine::Ack(const Message&) {
  Memo("Connect Success");
  view_.EnableSetupControls(false);
}

void Engine::RequestStartBlock(const Message&) { Reply(FormatBlockNumber(image_.StartBlock)); }

void Engine::RequestBlock(const Message&) {
  image_.ModelCheckWaived = 0;
  image_.HardwareCheckWaived = 0;
  Reply(FormatBlockNumber(image_.BlockCount));
}

void Engine::ReqdataBlock(const Message&) { Reply(FormatBlockNumber(image_.BlockCount)); }

void Engine::RequestDownload(const Message&) {
  if (image_.RegionIsDatabase) {
    // The region the box was last told is its database's: the image must
    // never be written there.
    state_.SourceStream.Close();
    state_.DownloadStopped = true;
    constexpr std::string_view kDatabaseRegion =
        ">> The box asks for a download into its database region: nothing is sent";
    Warn(kDatabaseRegion, {kDatabaseRegion});
    return;
  }
  Memo("DownLoad Start");
  PrepareFirstBlock();
  view_.SetLogo("Downloading...", colours::kBlack, colours::kAqua);
}

namespace {

// The block number after "REQUEST_1024DOWN:", when there is one.
std::optional<std::int64_t> RequestedNumber(std::string_view argument) {
  while (!argument.empty() && argument.front() == ' ') argument.remove_prefix(1);
  while (!argument.empty() && argument.back() == ' ') argument.remove_suffix(1);
  std::int64_t number = 0;
  const auto [end, error] =
      std::from_chars(argument.data(), argument.data() + argument.size(), number);
  if (argument.empty() || error != std::errc() || end != argument.data() + argument.size() ||
      number < 0) {
    return std::nullopt;
  }
  return number;
}

}  // namespace

// The block is already prepared, so the answer is one write and the sum. A
// box that names another block than the one prepared gets the block it names.
void Engine::Request1024Down(const Message& message) {
  if (state_.DownloadStopped) return;  // said when it stopped
  const std::optional<std::int64_t> number = RequestedNumber(message.Argument);
  if (number && state_.SourceStream.IsOpen()) {
    // The first numbered request names the block prepared for it.
    if (!state_.FirstRequestNumber) state_.FirstRequestNumber = *number - state_.BufferedBlock;
    const std::int64_t wanted = *number - *state_.FirstRequestNumber;
    if (wanted != state_.BufferedBlock) {
      const std::int64_t due = *state_.FirstRequestNumber + state_.BufferedBlock;
      if (wanted < 0 || wanted >= state_.DownloadBlocks) {
        Memo(">> The box asks for block " + FormatBlockNumber(*number) + ", not " +
             FormatBlockNumber(due) + ": it lies outside the region, nothing is sent");
        return;
      }
      Memo(">> The box asks for block " + FormatBlockNumber(*number) + ", not " +
           FormatBlockNumber(due) + ": it gets block " + FormatBlockNumber(*number));
      // A box that moved past the block it was sent has taken it.
      if (state_.BufferedBlockSent && wanted > state_.BufferedBlock && BookBufferedBlock()) {
        state_.ProgressCounter += 1;
        ShowDownloadProgress();
      }
      PrepareBlockAt(wanted);
    }
  }
  SendBlock();
}

void Engine::Down1024Err(const Message& message) {
  std::string line(message.Argument);
  line.append(" Block Retry");
  Memo(line);
  ++tally_.BlocksRetried;
}

void Engine::Down1024Success(const Message&) {
  if (state_.DownloadStopped) return;
  ++tally_.BlocksSent;
  AdvanceBlock();
}

void Engine::SubtractKey(int count) {
  count = std::clamp(count, 0, kBlockSize);
  auto& data = state_.DataBuffer;
  if (count == kBlockSize) {
    // Nearly every block is whole: a fixed length becomes vector code.
    for (std::size_t i = 0; i < data.size(); ++i) data[i] -= ScrambleKey[i];
    return;
  }
  for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) data[i] -= ScrambleKey[i];
}

void Engine::AddSignature(int signature_from, int block_from, int count) {
  // Every placement stays inside the block and the signature.
  for (int k = 0; k < count; ++k) {
    const int s = signature_from + k;
    const int p = block_from + k;
    if (s < 0 || s >= kSignature || p < 0 || p >= kBlockSize) continue;
    state_.DataBuffer[static_cast<std::size_t>(p)] +=
        state_.SignatureBlock[static_cast<std::size_t>(s)];
  }
}

// "TAVO", the shown model name, then header bytes 4 to 24; only 28 bytes are
// kept, and a short name leaves the tail as an earlier build left it.
void Engine::BuildSignatureBlock() {
  std::size_t at = 0;
  const auto put = [&](std::uint8_t byte) {
    if (at < state_.SignatureBlock.size()) state_.SignatureBlock[at++] = byte;
  };
  for (const char c : state_.BrandText) put(static_cast<std::uint8_t>(c));
  for (const char c : view_.EditText(Edit::kModelName)) put(static_cast<std::uint8_t>(c));
  for (int i = 4; i <= 24; ++i) put(image_.HeaderCopy[static_cast<std::size_t>(i)]);
}

bool Engine::WholeRegionDownloaded() const {
  return state_.DownloadBlocks > 0 && !state_.DownloadStopped && !state_.DownloadFailed &&
         state_.BlocksBooked == state_.DownloadBlocks;
}

int Engine::ReadSlice(std::int64_t index) {
  state_.DataBuffer.fill(0);
  try {
    state_.BlockBytesRead = state_.SourceStream.ReadSlice(index, state_.DataBuffer.data());
  } catch (const std::exception& error) {
    // Neither zeros nor foreign bytes go out in the image's place.
    state_.BlockBytesRead = 0;
    state_.DownloadStopped = true;
    Memo(">> Download stopped: " + std::string(error.what()));
    throw;
  }
  return state_.BlockBytesRead;
}

// Slices come from read-ahead chunks, each checked when read; a change after
// the last chunk is seen here, once the box has the whole region.
void Engine::CheckSourceUnchanged() {
  try {
    state_.SourceStream.CheckUnchanged();
  } catch (const std::exception& error) {
    state_.DownloadStopped = true;
    Memo(">> Download stopped: " + std::string(error.what()));
    throw;
  }
}

void Engine::PrepareFirstBlock() {
  state_.SourceStream.Close();
  state_.DownloadStopped = false;
  state_.DownloadFailed = false;
  state_.BufferedBlock = 0;
  state_.BufferedBlockSent = false;
  state_.FirstRequestNumber.reset();
  state_.DownloadBlocks = std::max(image_.BlockCount, 0);
  state_.BlockBooked.assign(static_cast<std::size_t>(state_.DownloadBlocks), false);
  state_.BlocksBooked = 0;
  state_.DownloadStartProgress = RoundHalfEven(state_.ProgressCounter);
  state_.DownloadStartPayloadRead = image_.PayloadBytesRead;
  try {
    state_.SourceStream.OpenRead(working_folder_.Resolve(image_.ImageFileName),
                                 image_.PayloadOffset, image_.SourceIdentity, image_.ImageFileName);
  } catch (const EFileError& error) {
    state_.DownloadStopped = true;  // nothing is sent in the image's place
    // A file that was loaded and checked and is not there as it was: a change.
    if (image_.SourceIdentity.size >= 0) Memo(">> Download stopped: " + std::string(error.what()));
    throw;
  }
  const int n = ReadSlice(0);

  const bool signature = image_.SignatureEnabled != 0;
  const std::string shown_type = signature ? view_.EditText(Edit::kType) : std::string();
  if (state_.LoaderKind == kLoader2LL && signature && shown_type == "CODE") {
    image_.PayloadBytesRead += n;  // no trailer on block 0
  }
  if (signature) BuildSignatureBlock();
  // Only a fresh run gets the signature on block 0 of a compressed image.
  state_.FirstBlockSigned =
      shown_type == "ZCODE" && RoundHalfEven(state_.ProgressCounter) == 0 && signature;
  if (state_.FirstBlockSigned) AddSignature(0, 0, kSignature);
  if (image_.ScrambleEnabled != 0) SubtractKey(n);
}

void Engine::PrepareBlockAt(std::int64_t index) {
  const int n = ReadSlice(index);
  state_.BufferedBlock = index;
  state_.BufferedBlockSent = false;
  const bool signature = image_.SignatureEnabled != 0;
  const std::string shown_type = signature ? view_.EditText(Edit::kType) : std::string();
  if (index == 0) {
    if (state_.LoaderKind == kLoader2LL && signature && shown_type == "CODE") {
      image_.PayloadBytesRead = static_cast<std::int32_t>(
          std::clamp<std::int64_t>(state_.DownloadStartPayloadRead + n, INT32_MIN, INT32_MAX));
    }
    if (state_.FirstBlockSigned) AddSignature(0, 0, kSignature);
    if (image_.ScrambleEnabled != 0) SubtractKey(n);
    return;
  }
  if (state_.LoaderKind == kLoader2LL && signature && shown_type == "CODE") {
    // As many payload bytes as the sequence would have counted through this block.
    const std::int64_t through =
        std::min<std::int64_t>(state_.SourceStream.PayloadBytes(), (index + 1) * kBlockSize);
    image_.PayloadBytesRead = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(state_.DownloadStartPayloadRead + through, INT32_MIN, INT32_MAX) -
        n);
  }
  ApplyLaterBlockRules(n, IsLastOfRegion(index));
}

// The sequence reads block k while ProgressCounter rounds to start + k - 1,
// and the 5518 signature goes where that count reaches BlockCount - 2.
bool Engine::IsLastOfRegion(std::int64_t index) const {
  return state_.DownloadStartProgress + static_cast<double>(index) + 1 ==
         static_cast<double>(image_.BlockCount);
}

void Engine::PadBlock() {
  const int from = std::clamp(state_.BlockBytesRead, 0, kBlockSize);
  std::fill(state_.DataBuffer.begin() + from, state_.DataBuffer.end(), std::uint8_t{0});
}

void Engine::SendBlock() {
  // With no source open the source counts as exhausted: zeros, never stale bytes.
  if (!state_.SourceStream.IsOpen()) state_.BlockBytesRead = 0;
  PadBlock();
  link_.WriteBuf(state_.DataBuffer.data(), kBlockSize);
  const char sum = static_cast<char>(BlockSum(state_.DataBuffer));
  link_.WriteText(std::string_view(&sum, 1));
  state_.BufferedBlockSent = true;
}

bool Engine::BookBufferedBlock() {
  const std::int64_t index = state_.BufferedBlock;
  if (index >= 0 && index < state_.DownloadBlocks) {
    const auto slot = static_cast<std::size_t>(index);
    if (state_.BlockBooked[slot]) return false;
    state_.BlockBooked[slot] = true;
    ++state_.BlocksBooked;
  }
  // The acknowledged block as it was sent, padding included.
  if (!state_.SourceStream.IsOpen()) state_.BlockBytesRead = 0;
  PadBlock();
  state_.TotalChecksum =
      static_cast<std::uint8_t>(state_.TotalChecksum + BlockSum(state_.DataBuffer));
  if (state_.BlocksBooked == state_.DownloadBlocks) CheckSourceUnchanged();
  return true;
}

void Engine::AdvanceBlock() {
  const bool booked = BookBufferedBlock();
  const double shown_progress = state_.ProgressCounter;

  const int n = ReadSlice(state_.BufferedBlock + 1);
  state_.BufferedBlock += 1;
  state_.BufferedBlockSent = false;
  ApplyLaterBlockRules(n, IsLastOfRegion(state_.BufferedBlock));

  // A block the box had taken already moves nothing on the bars.
  if (!booked) return;
  state_.ProgressCounter = shown_progress + 1;
  ShowDownloadProgress();
}

void Engine::ApplyLaterBlockRules(int n, bool last_of_region) {
  const bool signature = image_.SignatureEnabled != 0;
  const bool scramble = image_.ScrambleEnabled != 0;
  const std::string shown_type = signature ? view_.EditText(Edit::kType) : std::string();

  if (state_.LoaderKind == kLoader2LL && signature && shown_type == "CODE") {
    // The trailer: the payload's last 28 bytes, possibly across two blocks.
    image_.PayloadBytesRead += n;
    const std::int64_t remaining =
        static_cast<std::int64_t>(image_.PayloadSize) - image_.PayloadBytesRead;
    if (remaining >= 0 && remaining < kSignature && n == kBlockSize) {
      const int r = static_cast<int>(remaining);
      AddSignature(0, kTrailerStart + r, kSignature - r);
    } else if (remaining == 0 && n < kSignature) {
      AddSignature(kSignature - n, 0, n);
    } else if (remaining == 0) {
      AddSignature(0, n - kSignature, kSignature);
    }
  }
  // A scrambled image is unscrambled block by block whatever its type: a 2LL
  // box that got block 0 plain and the rest still scrambled would flash junk.
  if (state_.LoaderKind == kLoader2LL && scramble && n > 0) SubtractKey(n);
  if (state_.LoaderKind == kLoader5518 && signature && shown_type != "ZCODE" && last_of_region) {
    AddSignature(0, kTrailerStart, kSignature);  // the region's last block
  }
  if (state_.LoaderKind == kLoader5518 && signature && scramble) SubtractKey(n);
}

// pb1 shows the blocks taken before this one; neither the bar nor the byte
// count goes beyond the region, however many acknowledgements come.
void Engine::ShowDownloadProgress() {
  const double before = RoundHalfEven(state_.ProgressCounter - 1);
  if (image_.BlockCount > 0) {
    const double shown = std::clamp(before / image_.BlockCount * 100, 0.0, 100.0);
    view_.SetProgress(ProgressBar::kPb1, static_cast<int>(RoundHalfEven(shown)));
  }
  const long long region = static_cast<long long>(std::max(image_.BlockCount, 0)) * kBlockSize;
  const double done = std::clamp(RoundHalfEven(state_.ProgressCounter * kBlockSize), 0.0,
                                 static_cast<double>(region));
  download_done_ = static_cast<long long>(done);
  download_total_ = static_cast<long long>(image_.BlockCount) * kBlockSize;
  char text[64];
  std::snprintf(text, sizeof text, "(%lld / %lld)", download_done_, download_total_);
  view_.SetFileSize(text);
  Progress(RunProgress::kDownloading);
}

}  // namespace stbup
