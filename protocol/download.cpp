#include <algorithm>
#include <cstdio>

#include "protocol/engine.h"
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
  Memo("DownLoad Start");
  PrepareFirstBlock();
  view_.SetLogo("Downloading...", colours::kBlack, colours::kAqua);
}

// The block is already prepared, so the answer is one write and the sum.
void Engine::Request1024Down(const Message&) { SendBlock(); }

void Engine::Down1024Err(const Message& message) {
  std::string line(message.Argument);
  line.append(" Block Retry");
  Memo(line);
  ++tally_.BlocksRetried;
}

void Engine::Down1024Success(const Message&) {
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

void Engine::PrepareFirstBlock() {
  state_.SourceStream.Close();
  state_.SourceStream.OpenRead(image_.ImageFileName, image_.PayloadOffset);
  const int n = state_.SourceStream.Read(state_.DataBuffer.data(), kBlockSize);
  state_.BlockBytesRead = n;

  const bool signature = image_.SignatureEnabled != 0;
  const std::string shown_type = signature ? view_.EditText(Edit::kType) : std::string();
  if (state_.LoaderKind == kLoader2LL && signature && shown_type == "CODE") {
    image_.PayloadBytesRead += n;  // no trailer on block 0
  }
  if (signature) BuildSignatureBlock();
  // Only a fresh run gets the signature on block 0 of a compressed image.
  if (shown_type == "ZCODE" && RoundHalfEven(state_.ProgressCounter) == 0 && signature) {
    AddSignature(0, 0, kSignature);
  }
  if (image_.ScrambleEnabled != 0) SubtractKey(n);
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
}

void Engine::AdvanceBlock() {
  // The acknowledged block as it was sent, padding included.
  if (!state_.SourceStream.IsOpen()) state_.BlockBytesRead = 0;
  PadBlock();
  state_.TotalChecksum =
      static_cast<std::uint8_t>(state_.TotalChecksum + BlockSum(state_.DataBuffer));

  state_.DataBuffer.fill(0);
  const int n = state_.SourceStream.Read(state_.DataBuffer.data(), kBlockSize);
  state_.BlockBytesRead = n;

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
  if (state_.LoaderKind == kLoader5518 && signature && shown_type != "ZCODE" &&
      RoundHalfEven(state_.ProgressCounter) + 2 == image_.BlockCount) {
    AddSignature(0, kTrailerStart, kSignature);  // the region's last block
  }
  if (state_.LoaderKind == kLoader5518 && signature && scramble) SubtractKey(n);

  if (image_.BlockCount != 0) {
    const double shown = RoundHalfEven(state_.ProgressCounter) / image_.BlockCount * 100;
    view_.SetProgress(ProgressBar::kPb1, static_cast<int>(RoundHalfEven(shown)));
  }
  state_.ProgressCounter += 1;
  char text[64];
  std::snprintf(text, sizeof text, "(%lld / %lld)",
                static_cast<long long>(RoundHalfEven(state_.ProgressCounter * kBlockSize)),
                static_cast<long long>(image_.BlockCount) * kBlockSize);
  view_.SetFileSize(text);
}

}  // namespace stbup
