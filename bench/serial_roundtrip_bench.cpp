// One block exchange of the download over a pty: the box sends a request
// line, the tool answers with 1024 bytes and their sum. Measured through the
// port component (event thread -> main thread -> write thread) and, for
// comparison, with plain blocking reads and writes on the same kind of pty.
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "loop/event_loop.h"
#include "serial/va_comm.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kExchanges = 2000;
constexpr char kRequest[] = "REQUEST_1024DOWN\n";
constexpr std::size_t kAnswerSize = 1025;

bool ReadExactly(int fd, char* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(fd, buffer + done, count - done);
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// The box: request, then wait for the whole answer; returns the seconds taken.
double PlayBox(int master) {
  char answer[kAnswerSize];
  const auto start = Clock::now();
  for (int i = 0; i < kExchanges; ++i) {
    if (::write(master, kRequest, sizeof kRequest - 1) < 0) return -1;
    if (!ReadExactly(master, answer, kAnswerSize)) return -1;
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void MakeRaw(int fd) {
  termios mode{};
  ::tcgetattr(fd, &mode);
  ::cfmakeraw(&mode);
  ::tcsetattr(fd, TCSANOW, &mode);
}

std::string Answer() {
  std::string answer(kAnswerSize, '\0');
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < kAnswerSize; ++i) {
    answer[i] = static_cast<char>(i * 13);
    sum += static_cast<unsigned char>(answer[i]);
  }
  answer.back() = static_cast<char>(sum);
  return answer;
}

double ThroughComponent() {
  int master = -1, slave = -1;
  char name[256];
  if (::openpty(&master, &slave, name, nullptr, nullptr) < 0) return -1;
  MakeRaw(master);
  ::close(slave);
  stbup::EventLoop loop;
  stbup::TVaComm comm(loop);
  comm.SetDeviceName(name);
  comm.SetBaudrate(stbup::TVaBaudrate::br115200);
  comm.SetEventPriority(stbup::TThreadPriority::tpHighest);
  const std::string answer = Answer();
  std::string line;
  comm.OnRxChar = [&](stbup::TVaComm& sender, int) {
    for (const char c : sender.ReadText()) {
      if (c != '\n') {
        line += c;
        continue;
      }
      line.clear();
      sender.WriteText(answer);
    }
  };
  comm.Open();
  double seconds = -1;
  bool done = false;
  std::thread box([&] {
    seconds = PlayBox(master);
    loop.RunOnMainThread([&] { done = true; });
  });
  loop.RunUntil([&] { return done; }, std::chrono::minutes(2));
  box.join();
  comm.Close();
  ::close(master);
  return seconds;
}

double PlainBlocking() {
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) < 0) return -1;
  MakeRaw(master);
  MakeRaw(slave);
  const std::string answer = Answer();
  std::thread tool([&] {
    char c;
    for (int i = 0; i < kExchanges; ++i) {
      do {
        if (::read(slave, &c, 1) <= 0) return;
      } while (c != '\n');
      std::size_t sent = 0;
      while (sent < answer.size()) {
        const ssize_t done = ::write(slave, answer.data() + sent, answer.size() - sent);
        if (done <= 0) return;
        sent += static_cast<std::size_t>(done);
      }
    }
  });
  const double seconds = PlayBox(master);
  tool.join();
  ::close(slave);
  ::close(master);
  return seconds;
}

}  // namespace

int main() {
  const double plain = PlainBlocking();
  const double component = ThroughComponent();
  if (plain <= 0 || component <= 0) {
    std::fprintf(stderr, "serial_roundtrip_bench: the exchange failed\n");
    return 1;
  }
  const double plain_us = plain * 1e6 / kExchanges;
  const double component_us = component * 1e6 / kExchanges;
  std::printf("exchanges: %d (request line in, %zu bytes out, over a pty)\n", kExchanges,
              kAnswerSize);
  std::printf("plain blocking I/O:  %8.1f us per exchange\n", plain_us);
  std::printf("through TVaComm:     %8.1f us per exchange\n", component_us);
  std::printf("ratio component/plain: %.2f\n", component_us / plain_us);
  return 0;
}
