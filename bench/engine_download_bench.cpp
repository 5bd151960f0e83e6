// A 2 MiB download through the engine with a link that drops every byte:
// what the engine itself costs per 1024-byte block (request, answer, acknowledgement).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/engine.h"
#include "seams/null_view.h"
#include "seams/text_format.h"

namespace {

using namespace stbup;

class NullLink : public Link {
 public:
  bool WriteText(std::string_view text) override {
    benchmark::DoNotOptimize(text.data());
    return true;
  }
  bool WriteChar(std::uint8_t) override { return true; }
  int WriteBuf(const void* data, int count) override {
    benchmark::DoNotOptimize(data);
    return count;
  }
  std::string ReadText() override { return {}; }
  void Close() override {}
  bool Active() const override { return true; }
  std::string DeviceName() const override { return "COM1"; }
};

// Watches only what the engine computes per block; reads back the shown type
// and model as a window would.
class BlockView : public NullView {
 public:
  void SetProgress(ProgressBar, int percent) override { benchmark::DoNotOptimize(percent); }
  void SetFileSize(std::string_view text) override { benchmark::DoNotOptimize(text.data()); }
  std::string EditText(Edit edit) const override { return edit == Edit::kType ? "CODE" : "ST-210"; }
};

class NullTimer : public PollTimer {
 public:
  void Start(int) override {}
  void Stop() override {}
  int Interval() const override { return 0; }
};

class NullWindow : public ConnectionControl {
 public:
  void ResetConnection() override {}
};

constexpr int kBlocks = 2048;  // 2 MiB

std::string WriteImage() {
  char path[] = "/tmp/stbup-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) std::abort();
  std::string bytes(48, 'h');
  bytes.resize(48 + static_cast<std::size_t>(kBlocks) * 1024, '\x5A');
  if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
  close(fd);
  return path;
}

void BM_Download2MiB(benchmark::State& state) {
  const std::string path = WriteImage();
  ImageInfo image;
  image.ImageFileName = path;
  image.TypeName = "CODE";
  image.ModelName = "ST-210";
  image.PayloadOffset = 48;
  image.PayloadSize = kBlocks * 1024;
  image.PaddedSize = kBlocks * 1024;
  image.BlockCount = kBlocks;
  image.SignatureEnabled = 1;
  image.ScrambleEnabled = 1;  // the costliest path: key and signature on every block
  BlockView view;
  NullLink link;
  NullTimer timer;
  NullWindow window;
  Engine engine(image, view, link, timer, window);

  std::vector<std::string> requests, acknowledgements;
  for (int k = 0; k < kBlocks; ++k) {
    requests.push_back("REQUEST_1024DOWN:" + FormatBlockNumber(k) + "\n");
    acknowledgements.push_back("1024DOWN_SUCCESS:" + FormatBlockNumber(k) + "\n");
  }
  for (auto _ : state) {
    engine.EndRun();
    engine.Receive("REQUEST_DOWNLOAD\n");
    for (int k = 0; k < kBlocks; ++k) {
      engine.Receive(requests[static_cast<std::size_t>(k)]);
      engine.Receive(acknowledgements[static_cast<std::size_t>(k)]);
    }
    benchmark::DoNotOptimize(engine.State().TotalChecksum);
  }
  // Seconds per block; printed with its SI prefix (e.g. 480n = 480 ns).
  state.counters["time_per_block"] = benchmark::Counter(
      kBlocks, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlocks * 1024);
  engine.CloseFiles();
  std::remove(path.c_str());
}
BENCHMARK(BM_Download2MiB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
