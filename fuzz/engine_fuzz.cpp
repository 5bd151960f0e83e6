// The upgrade engine fed whatever a box (or a noisy line) might send, in
// chunks of any size, with a real image loaded. Only the errors a handler may
// raise at the boundary of a received-data event (a file that cannot be
// opened or created, a bad number) may escape a chunk; the line being
// assembled stays within its cap and no reply is out of proportion to the
// lines that asked for it.
//
// Input: byte 0 picks the image (bits 0-1), check-only (bit 2) and the
// chunking (bits 3-7: 0 is one chunk, else chunks of 1 to a size that grows
// with the value); the rest is the received byte stream.

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "image/check_code.h"
#include "image/image_reader.h"
#include "image/image_writer.h"
#include "protocol/engine.h"
#include "seams/errors.h"
#include "seams/null_view.h"

namespace {

using namespace stbup;

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

// Keeps only what the engine reads back: Label3 and the edits. The bars and
// the byte count never go beyond the region, whatever the box says.
class FuzzView : public NullView {
 public:
  void SetProgress(ProgressBar, int percent) override {
    FUZZ_CHECK(percent >= 0 && percent <= 100);
  }
  void SetFileSize(std::string_view text) override {
    long long done = 0;
    long long total = 0;
    FUZZ_CHECK(std::sscanf(std::string(text).c_str(), "(%lld / %lld)", &done, &total) == 2);
    FUZZ_CHECK(done >= 0 && (total < 0 || done <= total));
  }
  std::string Label3Caption() const override { return label3_; }
  void SetLabel3(std::string_view caption, Colour) override { label3_ = caption; }
  void SetEdit(Edit edit, std::string_view text) override { edits_[edit] = text; }
  std::string EditText(Edit edit) const override {
    const auto found = edits_.find(edit);
    return found == edits_.end() ? std::string() : found->second;
  }

 private:
  std::string label3_ = "???";
  std::map<Edit, std::string> edits_;
};

// Counts what goes out; nothing comes in through it (the fuzzer feeds Receive).
class CountingLink : public Link {
 public:
  bool WriteText(std::string_view text) override {
    written += text.size();
    return active;
  }
  bool WriteChar(std::uint8_t) override {
    ++written;
    return active;
  }
  int WriteBuf(const void*, int count) override {
    FUZZ_CHECK(count >= 0 && count <= kBlockSize);
    written += static_cast<std::size_t>(count);
    return count;
  }
  std::string ReadText() override { return {}; }
  void Close() override { active = false; }
  bool Active() const override { return active; }
  std::string DeviceName() const override { return "COM1"; }

  std::size_t written = 0;
  bool active = true;
};

class FakeTimer : public PollTimer {
 public:
  void Start(int interval_ms) override { interval_ = interval_ms; }
  void Stop() override { interval_ = 0; }
  int Interval() const override { return interval_; }

 private:
  int interval_ = kPollInterval;
};

// What the window's reset does to the engine; the image stays loaded.
class FakeWindow : public ConnectionControl {
 public:
  void ResetConnection() override {
    if (engine != nullptr) engine->ClearExchange();
  }
  Engine* engine = nullptr;
};

std::string& ImageDirectory() {
  static std::string directory;
  return directory;
}

std::vector<ImageInfo> MakeImages() {
  char pattern[] = "/tmp/stbup-engine-fuzz-XXXXXX";
  const char* dir = ::mkdtemp(pattern);
  FUZZ_CHECK(dir != nullptr);
  ImageDirectory() = dir;
  // The images and the upload files go with the process.
  std::atexit([] { std::filesystem::remove_all(ImageDirectory()); });
  std::vector<std::uint8_t> payload(5 * kBlockSize + 300);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 13);

  struct Made {
    const char* name;
    ImageFileFormat format;
    char type;
    std::string code;
  };
  const Made made[] = {
      {"old.bin", ImageFileFormat::kOld, 'C', ""},
      {"scrambled.bin", ImageFileFormat::kScrambled, 'C', std::string(kModelWildcard)},
      {"zcode.bin", ImageFileFormat::kNew, 'Z', BuildImageCheckCode()},
      {"tdbase.bin", ImageFileFormat::kNew, 'S', std::string(kHardwareWildcard)},
  };
  std::vector<ImageInfo> images;
  for (const Made& m : made) {
    ImageSpec recipe;
    recipe.format = m.format;
    recipe.type_letter = m.type;
    recipe.model_name = "ABC";
    recipe.check_code = m.code;
    recipe.start_block = 16;
    recipe.hardware_version = {0x01, 0x02, 0x03};
    recipe.software_version = {0x0A, 0x0B, 0x0C};
    // Absolute, so the upload file of a database "ack" lands beside it.
    const std::string path = std::string(dir) + "/" + m.name;
    WriteImageFile(path, recipe, payload);
    images.push_back(ReadImageInfo(path));
  }
  return images;
}

const std::vector<ImageInfo>& Images() {
  static const std::vector<ImageInfo> images = MakeImages();
  return images;
}

// Chunk sizes from a small generator, so that one input always splits alike.
class Chunker {
 public:
  explicit Chunker(std::uint8_t setting) : setting_(setting), state_(setting * 2654435761u + 1) {}
  std::size_t Next(std::size_t left) {
    if (setting_ == 0) return left;
    static constexpr std::size_t kLargest[] = {1, 2, 3, 7, 16, 64, 300, 1100};
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    const std::size_t size = 1 + state_ % kLargest[setting_ % 8];
    return std::min(size, left);
  }

 private:
  std::uint8_t setting_;
  std::uint32_t state_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Images();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t control = data[0];
  ImageInfo image = Images()[control & 3];
  FuzzView view;
  view.SetEdit(Edit::kModelName, image.ModelName);
  view.SetEdit(Edit::kType, image.TypeName);
  CountingLink link;
  FakeTimer timer;
  FakeWindow window;
  Engine engine(image, view, link, timer, window);
  window.engine = &engine;
  engine.SetCheckOnly((control & 4) != 0);

  const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
  Chunker chunker(static_cast<std::uint8_t>(control >> 3));
  std::size_t at = 0;
  while (at < stream.size()) {
    const std::string_view chunk = stream.substr(at, chunker.Next(stream.size() - at));
    at += chunk.size();
    const std::size_t before = link.written;
    const std::size_t label_before = view.Label3Caption().size();
    // A failing line is reported through the view; nothing escapes Receive.
    engine.Receive(chunk);
    const ExchangeState& state = engine.State();
    FUZZ_CHECK(state.LineText.size() <= ExchangeState::kMaxLineText);
    FUZZ_CHECK(state.FlashInfoCount >= 0 && state.FlashInfoCount <= ExchangeState::kFlashInfoSize);
    // The longest answer to one line is a block and its sum, or the database
    // request; a flash-info record gets none.
    const std::size_t lines =
        static_cast<std::size_t>(std::count(chunk.begin(), chunk.end(), '\n'));
    FUZZ_CHECK(link.written - before <= lines * (kBlockSize + 1 + 64));
    // Label3 grows by one report per message at most (a line, or a flash
    // record that may have begun in an earlier chunk): the model field is
    // cut with the line's argument.
    const std::size_t messages = lines + chunk.size() / ExchangeState::kFlashInfoSize + 1;
    const std::size_t label_after = view.Label3Caption().size();
    FUZZ_CHECK(label_after <= label_before || label_after - label_before <= messages * 400);
  }
  engine.Timer1Timer();
  engine.CloseFiles();
  return 0;
}
