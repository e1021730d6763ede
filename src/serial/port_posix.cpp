// Serial ports on POSIX: a tty file descriptor in raw mode, reads and writes driven by poll().
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "serial/port_backend.h"
#include "serial/port_error.h"

#ifdef __linux__
#include <linux/serial.h>
#include <sys/sysmacros.h>

#include <string>

#include "serial/lock_table.h"
#endif

namespace talven::detail {
namespace {

using Clock = std::chrono::steady_clock;

void MarkFailed(PortEntry& entry, int code) {
  entry.failed = true;
  entry.error->Record(code, std::strerror(code), PortFault::kVanished);
}

// A failed call: the device is gone, or the error is only recorded.
void Fail(PortEntry& entry, int code) {
  if (DeviceGone(code)) {
    MarkFailed(entry, code);
  } else {
    RecordSystemError(*entry.error, code);
  }
}

int RemainingMs(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 0x7FFFFFFF));
}

Clock::time_point After(std::int32_t milliseconds) {
  return Clock::now() + std::chrono::milliseconds(std::max<std::int32_t>(milliseconds, 0));
}

// The adapter's own FIFO timer otherwise adds up to 16 ms per reply; a request, so failures are
// fine. True when the flag was off and the driver took it.
bool AskForLowLatency([[maybe_unused]] int fd) {
#ifdef __linux__
  serial_struct info{};
  if (ioctl(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0) return false;
  info.flags |= ASYNC_LOW_LATENCY;
  return ioctl(fd, TIOCSSERIAL, &info) == 0;
#else
  return false;
#endif
}

// Low latency off again, as the port was found; FTDI's driver then goes back to its own timer.
void DropLowLatency([[maybe_unused]] int fd) {
#ifdef __linux__
  serial_struct info{};
  if (ioctl(fd, TIOCGSERIAL, &info) == 0 && (info.flags & ASYNC_LOW_LATENCY) != 0) {
    info.flags &= ~ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &info);
  }
#endif
}

// Output still queued goes out at the speed it was written for before the settings change back;
// a line that does not drain (a stalled peer) is given up on after a while.
void DrainBriefly(int fd) {
  constexpr int kDrainLimitMs = 500;
  for (int waited = 0; waited < kDrainLimitMs; waited += 5) {
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
    poll(nullptr, 0, 5);
  }
}

// The device's number as the kernel knows it, also when reached through /dev/tty or /dev/stdin;
// false for what is no terminal.
bool TerminalDevice(int fd, dev_t& device) {
  if (!isatty(fd)) return false;
#if defined(__linux__) && defined(TIOCGDEV)
  unsigned int number = 0;
  if (ioctl(fd, TIOCGDEV, &number) == 0) {
    device = makedev((number >> 8) & 0xFFF, (number & 0xFF) | ((number >> 12) & 0xFFF00));
    return true;
  }
#endif
  struct stat info {};
  if (fstat(fd, &info) != 0) return false;
  device = info.st_rdev;
  return true;
}

// Whether the device is the terminal the user works in: this process's controlling terminal or
// the terminal of its standard input, output or error. Taken as the scanner's port it would be
// set raw under the user's shell.
const char* UsersTerminal(int fd) {
  const pid_t session = tcgetsid(fd);
  if (session != -1 && session == getsid(0)) return "the terminal this program runs in";
  dev_t device{};
  if (!TerminalDevice(fd, device)) return nullptr;
  static constexpr const char* kStreams[] = {"standard input", "standard output", "standard error"};
  for (int stream = 0; stream < 3; ++stream) {
    dev_t other{};
    if (TerminalDevice(stream, other) && other == device) return kStreams[stream];
  }
  return nullptr;
}

// Pseudo-terminals have no modem lines; that is not a failure.
bool SetModemLine(PortEntry& entry, int line, bool on) {
  if (ioctl(entry.fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
  if (errno == ENOTTY || errno == EINVAL) return true;
  RecordSystemError(*entry.error, errno);
  return false;
}

bool WriteModemLines(PortEntry& entry, const LineState& line) {
  // Handshake DTR has no POSIX equivalent: keep the line raised. Toggle RTS rests low.
  const bool dtr = line.dtr != DtrControl::kDisable;
  const bool rts = line.rts == RtsControl::kEnable || line.rts == RtsControl::kHandshake;
  const bool dtrOk = SetModemLine(entry, TIOCM_DTR, dtr);
  const bool rtsOk = SetModemLine(entry, TIOCM_RTS, rts);
  return dtrOk && rtsOk;
}

bool WriteTermios(PortEntry& entry, const termios& tio) {
  if (tcsetattr(entry.fd, TCSANOW, &tio) == 0) return true;
  RecordSystemError(*entry.error, errno);
  return false;
}

// Whether another opener already made the tty exclusive: then its flag is not ours to drop.
bool AlreadyExclusive([[maybe_unused]] int fd) {
#ifdef TIOCGEXCL
  int exclusive = 0;
  return ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
#else
  return false;
#endif
}

// Whether another process holds a lock on the device: its open would go on to the driver's, which
// raises DTR and RTS on the holder's line before anything else can refuse it.
bool HeldByAnother([[maybe_unused]] const char* path) {
#ifdef __linux__
  struct stat device {};
  if (stat(path, &device) != 0) return false;
  const int fd = open("/proc/locks", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string table;
  char chunk[4096];
  ssize_t got = 0;
  while ((got = read(fd, chunk, sizeof chunk)) > 0)
    table.append(chunk, static_cast<std::size_t>(got));
  close(fd);
  return LockTableHolds(table, {major(device.st_dev), minor(device.st_dev), device.st_ino});
#else
  return false;
#endif
}

}  // namespace

DevicePathStyle NativeDevicePathStyle() {
  return DevicePathStyle::kPosix;
}

PortStatus BackendOpen(PortEntry& entry, const char* path, std::int32_t, std::int32_t) {
  if (HeldByAnother(path)) {
    RecordOpenError(*entry.error, EBUSY, path);
    return kPortCannotOpen;
  }
  const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    RecordOpenError(*entry.error, errno, path);
    return kPortCannotOpen;
  }
  if (const char* terminal = UsersTerminal(fd); terminal != nullptr) {
    char reason[160];
    std::snprintf(reason, sizeof reason,
                  "is %s, not a scanner's port; give the cable's device (talven --list-ports)",
                  terminal);
    entry.error->Record(EBUSY, reason);
    close(fd);
    return kPortCannotOpen;
  }
  // TIOCEXCL keeps out other openers (except root); the lock also covers root and is released by
  // the kernel if this process dies. The descriptor stays non-blocking: every wait is a poll()
  // with the port's time-outs, and a stalled line can never hold a read or write past its deadline.
  const bool wasExclusive = AlreadyExclusive(fd);
  if (ioctl(fd, TIOCEXCL) != 0) {
    RecordOpenError(*entry.error, errno, path);
    close(fd);
    return kPortCannotOpen;
  }
  termios tio{};
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || tcgetattr(fd, &tio) != 0) {
    RecordOpenError(*entry.error, errno, path);
    // The flag belongs to the tty: left set, it would lock out the holder's own next open.
    if (!wasExclusive) ioctl(fd, TIOCNXCL);
    close(fd);
    return kPortCannotOpen;
  }
  entry.found = tio;
  entry.lowLatencyAsked = AskForLowLatency(fd);
  entry.fd = fd;
  entry.line.ctsOutputFlow = HardwareFlowOn(tio);
  return kPortOk;
}

bool BackendClose(PortEntry& entry) {
  // The port is left as it was found; a device that has gone has nothing left to put back.
  if (!entry.failed) {
    DrainBriefly(entry.fd);
    tcsetattr(entry.fd, TCSANOW, &entry.found);
    if (entry.lowLatencyAsked) DropLowLatency(entry.fd);
  }
  // The exclusive flag belongs to the tty, not to this descriptor: drop it so a later open works
  // while another descriptor keeps the tty alive.
  ioctl(entry.fd, TIOCNXCL);
  if (close(entry.fd) != 0 && errno != EINTR) {
    RecordSystemError(*entry.error, errno);
    return false;
  }
  return true;
}

PortStatus BackendApply(PortEntry& entry, const LinkSettings& settings) {
  termios tio{};
  if (tcgetattr(entry.fd, &tio) != 0) {
    RecordSystemError(*entry.error, errno);
    return kPortCallFailed;
  }
  LineState line = entry.line;
  if (!ApplyToTermios(settings, tio, line)) {
    entry.error->Record(EINVAL, "setting not supported by this system",
                        PortFault::kSettingsRefused);
    return kPortCallFailed;
  }
  if (!WriteTermios(entry, tio)) return kPortCallFailed;
  entry.line = line;
  return WriteModemLines(entry, line) ? kPortOk : kPortCallFailed;
}

PortStatus BackendSetReadTimeout(PortEntry& entry, std::int32_t milliseconds) {
  entry.readTimeoutMs = milliseconds;
  return kPortOk;
}

PortStatus BackendSetWriteTimeout(PortEntry& entry, std::int32_t milliseconds) {
  entry.writeTimeoutMs = milliseconds;
  return kPortOk;
}

namespace {

// One read without waiting. Answers false when the read failed for good (the port is marked failed
// or the error recorded); true otherwise, also when nothing was there.
bool ReadOnce(PortEntry& entry, unsigned char* out, std::int32_t room, std::int32_t& got) {
  const ssize_t n = read(entry.fd, out, static_cast<std::size_t>(room));
  if (n > 0) {
    got += static_cast<std::int32_t>(n);
    return true;
  }
  if (n == 0) {
    MarkFailed(entry, EIO);  // a hung-up tty reads as end of file
    return false;
  }
  if (errno == EAGAIN) return true;
  if (errno == EINTR) return false;  // the caller looks at its signals
  Fail(entry, errno);
  return false;
}

}  // namespace

std::int32_t BackendReadWaiting(PortEntry& entry, void* buffer, std::int32_t capacity) {
  std::int32_t got = 0;
  ReadOnce(entry, static_cast<unsigned char*>(buffer), capacity, got);
  return got;
}

std::int32_t BackendRead(PortEntry& entry, void* buffer, std::int32_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  const auto total = After(entry.readTimeoutMs);
  auto deadline = total;  // moves forward with each arrival, never past the total
  std::int32_t got = 0;
  for (;;) {
    const std::int32_t before = got;
    if (!ReadOnce(entry, out + got, count - got, got)) return got;
    if (got == count) return got;
    if (got > before) deadline = std::min(total, After(entry.readTimeoutMs));
    // Bytes already waiting come without a wait; only an empty queue costs a poll().
    pollfd p{entry.fd, POLLIN, 0};
    const int ready = poll(&p, 1, RemainingMs(deadline));
    if (ready < 0) {
      if (errno != EINTR) RecordSystemError(*entry.error, errno);
      return got;
    }
    if (ready == 0) return got;
    if ((p.revents & POLLIN) == 0) {
      MarkFailed(entry, EIO);
      return got;
    }
  }
}

std::int32_t BackendWrite(PortEntry& entry, const void* buffer, std::int32_t count) {
  const auto* in = static_cast<const unsigned char*>(buffer);
  const auto deadline = After(entry.writeTimeoutMs);
  const bool toggleRts = entry.line.rts == RtsControl::kToggle;
  if (toggleRts) SetModemLine(entry, TIOCM_RTS, true);

  std::int32_t written = 0;
  while (written < count) {
    const ssize_t n = write(entry.fd, in + written, static_cast<std::size_t>(count - written));
    if (n > 0) {
      written += static_cast<std::int32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) break;
    if (n < 0 && errno != EAGAIN) {
      Fail(entry, errno);
      break;
    }
    const int left = RemainingMs(deadline);
    if (left == 0) break;
    pollfd p{entry.fd, POLLOUT, 0};
    const int ready = poll(&p, 1, left);
    if (ready <= 0) break;
    if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      MarkFailed(entry, EIO);
      break;
    }
  }

  if (toggleRts) {
    // The line must stay up until the last byte has left; a signal ends the wait early.
    tcdrain(entry.fd);
    SetModemLine(entry, TIOCM_RTS, false);
  }
  return written;
}

std::int32_t BackendReadArriving(PortEntry& entry, void* buffer, std::int32_t capacity,
                                 std::int32_t timeoutMs) {
  // Bytes already waiting end the poll at once: one poll and one read, whatever is there.
  auto* out = static_cast<unsigned char*>(buffer);
  std::int32_t got = 0;
  pollfd p{entry.fd, POLLIN, 0};
  const int ready = poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
  if (ready < 0) {
    if (errno != EINTR) MarkFailed(entry, errno);  // a signal: the caller looks at its flag
    return 0;
  }
  if (ready == 0) return 0;
  if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
    // A hang-up can still leave bytes to read; hand those over first.
    int waiting = 0;
    if (ioctl(entry.fd, FIONREAD, &waiting) != 0 || waiting == 0) {
      MarkFailed(entry, EIO);
      return 0;
    }
  }
  ReadOnce(entry, out, capacity, got);
  return got;
}

}  // namespace talven::detail
