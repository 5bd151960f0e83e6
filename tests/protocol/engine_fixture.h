#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "image/image_info.h"
#include "protocol/engine.h"
#include "seams/errors.h"
#include "seams/text_format.h"
#include "tests/support/recording_link.h"
#include "tests/support/recording_view.h"
#include "tests/support/window_fakes.h"

namespace stbup {

// The window's side of "NO_ACKNOWLEDGE with PC.": counts resets and does the
// exchange part of ResetConnection, as the real window does.
class FakeConnectionControl : public ConnectionControl {
 public:
  void ResetConnection() override {
    ++resets;
    if (engine != nullptr) engine->ClearExchange();
    if (on_reset) on_reset();
  }
  Engine* engine = nullptr;
  int resets = 0;
  std::function<void()> on_reset;
};

// One engine wired to recording fakes; a CODE image that fits a 1 Mbyte box by default.
struct EngineHarness {
  EngineHarness() {
    image.TypeName = "CODE";
    image.ModelName = "ST-210";
    image.StartBlock = 16;
    image.PayloadSize = 0xC0000;
    image.PaddedSize = 0xC0000;
    image.BlockCount = 768;
    view.SetEdit(Edit::kModelName, image.ModelName);
    view.SetEdit(Edit::kType, image.TypeName);
    window.engine = &engine;
    view.ClearEvents();
  }

  void SetType(std::string_view type) {
    image.TypeName = type;
    view.SetEdit(Edit::kType, type);
  }

  // Feeds text and returns the bytes the engine wrote meanwhile.
  std::string Feed(std::string_view bytes) {
    engine.Receive(bytes);
    return link.TakeWire();
  }
  std::string Line(std::string_view line) { return Feed(std::string(line) + "\n"); }

  // The memo lines added since the last call.
  std::vector<std::string> NewMemo() {
    std::vector<std::string> lines(view.memo.begin() + static_cast<long>(memo_seen_),
                                   view.memo.end());
    memo_seen_ = view.memo.size();
    return lines;
  }

  // The flash-info record with the given size, maker and device bytes.
  static std::string FlashInfo(std::uint8_t size, std::uint8_t maker, std::uint8_t device) {
    std::string record(33, '\0');
    record[4] = static_cast<char>(size);
    record[5] = static_cast<char>(maker);
    record[6] = static_cast<char>(device);
    return "BL_FLASH_INFO\n" + record;
  }

  ImageInfo image;
  RecordingView view;
  RecordingLink link;
  FakeTimer timer;
  FakeConnectionControl window;
  Engine engine{image, view, link, timer, window};
  std::size_t memo_seen_ = 0;
};

class EngineTest : public ::testing::Test, public EngineHarness {};

using Lines = std::vector<std::string>;

}  // namespace stbup
