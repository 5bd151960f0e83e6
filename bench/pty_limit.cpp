// The machine's limit for the block exchange over a pseudo-terminal: two plain
// processes, blocking reads and writes, no threads. One side asks
// "REQUEST_1024DOWN:%04d\n", the other answers 1025 bytes, the first confirms
// with "1024DOWN_SUCCESS:%04d\n". Prints blocks per second.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadExactly(int fd, char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = read(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Reads one line ending in '\n' (the PC side's framing); bytes after it stay
// in pending for the next line.
bool ReadLine(int fd, std::string& pending, std::string& line) {
  for (;;) {
    const size_t end = pending.find('\n');
    if (end != std::string::npos) {
      line.assign(pending, 0, end + 1);
      pending.erase(0, end + 1);
      return true;
    }
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    pending.append(buffer, static_cast<size_t>(n));
  }
}

void MakeRaw(int fd) {
  termios settings{};
  tcgetattr(fd, &settings);
  cfmakeraw(&settings);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &settings);
}

}  // namespace

int main(int argc, char** argv) {
  const int blocks = argc > 1 ? std::atoi(argv[1]) : 2048;
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  MakeRaw(slave);
  MakeRaw(master);

  const pid_t child = fork();
  if (child == 0) {  // the PC side on the slave: answers every request
    close(master);
    char block[1025];
    std::memset(block, 0x5A, sizeof block);
    std::string pending;
    std::string line;
    for (int i = 0; i < blocks; ++i) {
      if (!ReadLine(slave, pending, line) || !WriteAll(slave, block, sizeof block)) _exit(2);
      if (!ReadLine(slave, pending, line)) _exit(3);
    }
    _exit(0);
  }
  close(slave);

  char request[64];
  char answer[1025];
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < blocks; ++i) {
    const int n = std::snprintf(request, sizeof request, "REQUEST_1024DOWN:%04d\n", i);
    if (!WriteAll(master, request, static_cast<size_t>(n)) ||
        !ReadExactly(master, answer, sizeof answer)) {
      std::fprintf(stderr, "exchange broke at block %d\n", i);
      return 1;
    }
    const int m = std::snprintf(request, sizeof request, "1024DOWN_SUCCESS:%04d\n", i);
    if (!WriteAll(master, request, static_cast<size_t>(m))) return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  int status = 0;
  waitpid(child, &status, 0);
  std::printf("{\"blocks\":%d,\"seconds\":%.6f,\"blocks_per_second\":%.1f}\n", blocks, seconds,
              blocks / seconds);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
