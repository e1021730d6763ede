// Keys from the controlling terminal. The terminal stays in its normal mode except while a key is
// being read, so output, line editing and Ctrl+C behave as usual the rest of the time.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "process/console.h"
#include "process/signals.h"
#include "text/keymap.h"

namespace talven {

namespace {

// The rest of an escape sequence arrives with its ESC; a longer gap means the user pressed Esc.
constexpr std::chrono::milliseconds kSequenceWait{50};
// A signal that lands just before poll() starts is still noticed this soon.
constexpr int kSignalCheckMs = 500;

// Decoded codes not handed out yet. One read holds at most 64 bytes, each of at most two codes.
class PendingCodes {
 public:
  bool empty() const { return count_ == 0; }
  int front() const { return codes_[head_]; }
  void pop_front() {
    head_ = (head_ + 1) % codes_.size();
    --count_;
  }
  void push_back(int code) {
    if (count_ == codes_.size()) return;  // a flood of keys: later ones are dropped, never overrun
    codes_[(head_ + count_) % codes_.size()] = code;
    ++count_;
  }

 private:
  std::array<int, 256> codes_{};
  std::size_t head_ = 0;
  std::size_t count_ = 0;
};
// The console as the process holds it.
struct ConsoleState {
  int tty = -1;
  bool ttyOpened = false;
  termios saved{};
  volatile std::sig_atomic_t raw = 0;
  PendingCodes pending;
};
ConsoleState gConsole;

int Tty() {
  if (!gConsole.ttyOpened) {
    gConsole.ttyOpened = true;
    gConsole.tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  return gConsole.tty;
}

// Non-canonical input without echo, for one read. Ctrl+C stays the interrupt, so that a key wait
// cannot take the keystroke meant to stop the program as its answer; quit and suspend read as keys.
class RawMode {
 public:
  RawMode() {
    const int fd = Tty();
    if (fd < 0 || tcgetattr(fd, &gConsole.saved) != 0) return;
    termios raw = gConsole.saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    raw.c_lflag |= ISIG;
    raw.c_cc[VQUIT] = _POSIX_VDISABLE;
    raw.c_cc[VSUSP] = _POSIX_VDISABLE;
    // Enter must read as 13, and Ctrl+S / Ctrl+Q as keys rather than flow control.
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP);
    raw.c_cc[VMIN] = 0;  // reads return what is there; poll() does the waiting
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &raw) != 0) return;
    gConsole.raw = 1;
    ok_ = true;
  }
  ~RawMode() { RestoreConsole(); }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;

  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

enum class Readiness { kReadable, kTimeout, kFailed };

Readiness PollTty(int fd, int timeoutMs) {
  pollfd entry{fd, POLLIN, 0};
  const int result = poll(&entry, 1, timeoutMs);
  if (result < 0) return errno == EINTR ? Readiness::kTimeout : Readiness::kFailed;
  if (result == 0) return Readiness::kTimeout;
  if ((entry.revents & POLLIN) != 0) return Readiness::kReadable;
  return Readiness::kFailed;  // hangup or error without data
}

// Reads into buffer[length..capacity). Zero bytes after poll() reported input means a hangup; a
// read that a signal ended is no input either.
bool ReadMore(int fd, unsigned char* buffer, std::size_t& length, std::size_t capacity) {
  for (;;) {
    const ssize_t count = read(fd, buffer + length, capacity - length);
    if (count > 0) {
      length += static_cast<std::size_t>(count);
      return true;
    }
    if (count == 0 || errno != EINTR || TakenSignal() != 0) return false;
  }
}

// Waits up to the sequence gap for more input after a partial escape sequence.
bool MoreArrives(int fd, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    switch (PollTty(fd, static_cast<int>(left.count()))) {
      case Readiness::kReadable:
        return true;
      case Readiness::kFailed:
        return false;
      case Readiness::kTimeout:
        if (TakenSignal() != 0) return false;
        break;  // timed out: the deadline decides
    }
  }
}

// Reads what the terminal holds (poll() said there is input) and queues every key in it.
bool ReadKeys(int fd) {
  unsigned char buffer[64];
  std::size_t length = 0;
  if (!ReadMore(fd, buffer, length, sizeof buffer)) return false;
  std::chrono::steady_clock::time_point deadline{};
  bool waiting = false;
  while (length > 0) {
    TerminalKey key = DecodeTerminalKey(buffer, length, false);
    if (key.incomplete) {
      if (!waiting) deadline = std::chrono::steady_clock::now() + kSequenceWait;
      waiting = true;
      if (length < sizeof buffer && MoreArrives(fd, deadline) &&
          ReadMore(fd, buffer, length, sizeof buffer))
        continue;
      key = DecodeTerminalKey(buffer, length, true);
    }
    waiting = false;
    for (std::uint8_t i = 0; i < key.key.count; ++i) gConsole.pending.push_back(key.key.codes[i]);
    length -= key.consumed;
    std::memmove(buffer, buffer + key.consumed, length);
  }
  return true;
}

}  // namespace

bool KeyAvailable() {
  if (!gConsole.pending.empty()) return true;
  const int fd = Tty();
  if (fd < 0) return false;
  const RawMode raw;
  if (!raw.ok()) return false;
  if (PollTty(fd, 0) == Readiness::kReadable) ReadKeys(fd);
  return !gConsole.pending.empty();
}

bool WaitForKey() {
  if (!gConsole.pending.empty()) return true;
  const int fd = Tty();
  if (fd < 0) return false;
  std::fflush(stdout);  // the prompt must be visible while we wait
  const RawMode raw;
  if (!raw.ok()) return false;
  while (gConsole.pending.empty()) {
    if (TakenSignal() != 0) return false;
    switch (PollTty(fd, kSignalCheckMs)) {
      case Readiness::kReadable:
        if (!ReadKeys(fd)) return false;
        break;
      case Readiness::kTimeout:
        break;
      case Readiness::kFailed:
        return false;
    }
  }
  return true;
}

int ReadKey() {
  if (!WaitForKey()) return -1;
  const int code = gConsole.pending.front();
  gConsole.pending.pop_front();
  return code;
}

int ReadKeyEcho() {
  const int code = ReadKey();
  if (code < 0) return code;
  std::fflush(stdout);  // the echo goes after what the program printed
  const unsigned char byte = static_cast<unsigned char>(code);
  while (write(gConsole.tty, &byte, 1) < 0 && errno == EINTR && TakenSignal() == 0) {
  }
  return code;
}

// A terminal has no selection that stops the program.
void HoldConsoleForSession() {}

int PauseForKey(const char* prompt) {
  std::printf("%s", prompt);
  std::fflush(stdout);
  return WaitForKey() ? ReadKeyEcho() : -1;
}

void RestoreConsole() {
  if (gConsole.raw == 0) return;
  gConsole.raw = 0;
  tcsetattr(gConsole.tty, TCSANOW, &gConsole.saved);
}

}  // namespace talven
