// The floor of the bench: two processes over a pseudo-terminal doing nothing but the lock-step
// exchange of the clone protocol's line sizes: a "CLN " line one way, "OK" back.
//
//   pingpong COUNT RECORD_LENGTH SENDER
//
// SENDER is "master" when the pty master end sends the records (the scanner as clone master, as in
// talven's Slave and Compare modes) or "slave" when the slave end sends (talven's Master mode).
// Prints "<count> records in <seconds> s, <rate> records/s".
//
//   pingpong answer PATH
//
// opens the pty PATH and answers "OK" to every line up to "END": a bare stand-in for talven, to
// measure what the simulator costs on its own.
#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kBufferSize = 65536;

// Reads up to the next CR; the line then begins at buffer[0]. False at the end of input or on an
// error.
bool ReadLine(int fd, char* buffer, std::size_t& filled, std::size_t& start) {
  for (;;) {
    const void* cr = std::memchr(buffer + start, '\r', filled - start);
    if (cr != nullptr) {
      if (start > 0) {
        // Rarely taken: in lock-step the buffer holds one line at a time.
        std::memmove(buffer, buffer + start, filled - start);
        filled -= start;
        cr = static_cast<const char*>(cr) - start;
      }
      start = static_cast<std::size_t>(static_cast<const char*>(cr) - buffer) + 1;
      if (start == filled) start = filled = 0;
      return true;
    }
    if (filled == kBufferSize) return false;
    const ssize_t n = read(fd, buffer + filled, kBufferSize - filled);
    if (n <= 0) return false;
    filled += static_cast<std::size_t>(n);
  }
}

bool WriteAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t n = write(fd, data, length);
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

int Send(int fd, long count, const std::string& line) {
  static char buffer[kBufferSize];
  std::size_t filled = 0;
  std::size_t start = 0;
  for (long i = 0; i < count; ++i) {
    if (!WriteAll(fd, line.data(), line.size())) return 1;
    if (!ReadLine(fd, buffer, filled, start)) return 1;
  }
  return 0;
}

int Answer(int fd, long count) {
  static char buffer[kBufferSize];
  std::size_t filled = 0;
  std::size_t start = 0;
  for (long i = 0; i < count; ++i) {
    if (!ReadLine(fd, buffer, filled, start)) return 1;
    if (!WriteAll(fd, "OK\r", 3)) return 1;
  }
  return 0;
}

}  // namespace

// Opens a tty raw and answers every line with OK until END.
int AnswerPath(const char* path) {
  const int fd = open(path, O_RDWR | O_NOCTTY);
  if (fd < 0) return 1;
  termios tio{};
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
  static char buffer[kBufferSize];
  std::size_t filled = 0;
  std::size_t start = 0;
  for (;;) {
    if (!ReadLine(fd, buffer, filled, start)) return 1;
    if (std::strncmp(buffer, "END", 3) == 0) return 0;
    if (!WriteAll(fd, "OK\r", 3)) return 1;
  }
}

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "answer") == 0) return AnswerPath(argv[2]);
  if (argc != 4) {
    std::fprintf(stderr,
                 "usage: pingpong COUNT RECORD_LENGTH master|slave | pingpong answer PATH\n");
    return 2;
  }
  const long count = std::atol(argv[1]);
  const std::size_t length = static_cast<std::size_t>(std::atol(argv[2]));
  const bool masterSends = std::strcmp(argv[3], "master") == 0;
  const std::string line = "CLN " + std::string(length, 'A') + "\r";

  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  termios tio{};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);

  const auto started = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    close(master);
    _exit(masterSends ? Answer(slave, count) : Send(slave, count, line));
  }
  close(slave);
  const int result = masterSends ? Send(master, count, line) : Answer(master, count);
  int status = 0;
  waitpid(child, &status, 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (result != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
  std::printf("%ld records in %.3f s, %.0f records/s\n", count, seconds,
              static_cast<double>(count) / seconds);
  return 0;
}
