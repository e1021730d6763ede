// Serial ports on POSIX: a tty file descriptor in raw mode, reads and writes driven by poll().
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "serial/port_backend.h"

#ifdef __linux__
#include <linux/serial.h>
#endif

namespace talven::detail {
namespace {

using Clock = std::chrono::steady_clock;

#ifdef CMSPAR
constexpr tcflag_t kStickParity = CMSPAR;
#else
constexpr tcflag_t kStickParity = 0;
#endif

#ifdef CRTSCTS
constexpr tcflag_t kHardwareFlow = CRTSCTS;
#else
constexpr tcflag_t kHardwareFlow = 0;
#endif

struct SpeedEntry {
  std::uint32_t bitsPerSecond;
  speed_t code;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400},
};

std::optional<speed_t> SpeedCode(std::uint32_t bitsPerSecond) {
  for (const SpeedEntry& s : kSpeeds) {
    if (s.bitsPerSecond == bitsPerSecond) return s.code;
  }
  return std::nullopt;
}

void RecordErrno(int code) {
  RecordPortError(code, std::strerror(code));
}

// The usual cure on Linux is membership of the group that owns the device ("dialout" on most
// distributions); a device only root may open needs more than that.
void RecordAccessDenied(int code, const char* path) {
  struct stat info {};
  const group* owner = stat(path, &info) == 0 && info.st_gid != 0 ? getgrgid(info.st_gid) : nullptr;
#ifdef __linux__
  if (owner != nullptr) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "permission denied (add your user to the '%s' group: sudo usermod -aG %s "
                  "$USER, then log out and in again)",
                  owner->gr_name, owner->gr_name);
    RecordPortError(code, text);
    return;
  }
#else
  (void)owner;
#endif
  RecordPortError(code, "permission denied");
}

void RecordOpenError(int code, const char* path) {
  switch (code) {
    case ENOENT:
      RecordPortError(code, "no such device");
      break;
    case ENXIO:
    case ENODEV:
    case EIO:
      // A serial port slot with no hardware behind it opens this way.
      RecordPortError(code, "no such device (nothing answers at this port)");
      break;
    case EBUSY:
    case EWOULDBLOCK:
      RecordPortError(code, "in use by another program");
      break;
    case EACCES:
    case EPERM:
      RecordAccessDenied(code, path);
      break;
    case ENOTTY:
      RecordPortError(code, "not a serial device");
      break;
    default:
      RecordErrno(code);
      break;
  }
}

// Errors that mean the device has gone (hang-up, unplugged adapter).
bool DeviceGone(int code) {
  return code == EIO || code == ENXIO || code == ENODEV || code == EPIPE;
}

void MarkFailed(PortEntry& entry, int code) {
  entry.failed = true;
  RecordErrno(code);
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
// fine.
void AskForLowLatency([[maybe_unused]] int fd) {
#ifdef __linux__
  serial_struct info{};
  if (ioctl(fd, TIOCGSERIAL, &info) == 0) {
    info.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &info);
  }
#endif
}

// Pseudo-terminals have no modem lines; that is not a failure.
bool SetModemLine(int fd, int line, bool on) {
  if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
  if (errno == ENOTTY || errno == EINVAL) return true;
  RecordErrno(errno);
  return false;
}

bool WriteModemLines(int fd, const LineState& line) {
  // Handshake DTR has no POSIX equivalent: keep the line raised. Toggle RTS rests low.
  const bool dtr = line.dtr != DtrControl::kDisable;
  const bool rts = line.rts == RtsControl::kEnable || line.rts == RtsControl::kHandshake;
  const bool dtrOk = SetModemLine(fd, TIOCM_DTR, dtr);
  const bool rtsOk = SetModemLine(fd, TIOCM_RTS, rts);
  return dtrOk && rtsOk;
}

bool WriteTermios(int fd, const termios& tio) {
  if (tcsetattr(fd, TCSANOW, &tio) == 0) return true;
  RecordErrno(errno);
  return false;
}

// For toggle RTS: the line must stay up until the last byte has left, but no longer than the
// write may take.
void DrainUntil(int fd, Clock::time_point deadline) {
  int queued = 0;
  while (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace

bool ApplyToTermios(const LinkSettings& settings, termios& tio, LineState& line) {
  termios t = tio;
  LineState l = line;

  if (settings.baudRate) {
    const std::optional<speed_t> code = SpeedCode(*settings.baudRate);
    if (!code || cfsetispeed(&t, *code) != 0 || cfsetospeed(&t, *code) != 0) return false;
  }
  if (settings.stopBits) {
    // termios knows one or two; one and a half is only meaningful with 5 data bits, where a UART
    // set to two sends one and a half.
    if (*settings.stopBits == StopBits::kOne) {
      t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    } else {
      t.c_cflag |= CSTOPB;
    }
  }
  if (settings.parity) {
    t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | kStickParity);
    switch (*settings.parity) {
      case Parity::kNone:
        break;
      case Parity::kOdd:
        t.c_cflag |= PARENB | PARODD;
        break;
      case Parity::kEven:
        t.c_cflag |= PARENB;
        break;
      case Parity::kMark:
        if (kStickParity == 0) return false;
        t.c_cflag |= PARENB | PARODD | kStickParity;
        break;
      case Parity::kSpace:
        if (kStickParity == 0) return false;
        t.c_cflag |= PARENB | kStickParity;
        break;
    }
    if (settings.ParityChecking()) {
      t.c_iflag |= INPCK;
    } else {
      t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    }
  }
  if (settings.dataBits) {
    tcflag_t size = 0;
    switch (*settings.dataBits) {
      case 5:
        size = CS5;
        break;
      case 6:
        size = CS6;
        break;
      case 7:
        size = CS7;
        break;
      case 8:
        size = CS8;
        break;
      default:
        return false;
    }
    t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | size;
  }
  if (settings.dtr) l.dtr = *settings.dtr;
  if (settings.rts) l.rts = *settings.rts;
  if (settings.ctsOutputFlow) l.ctsOutputFlow = *settings.ctsOutputFlow;
  if (settings.dsrOutputFlow) l.dsrOutputFlow = *settings.dsrOutputFlow;
  if (settings.xonXoff) {
    if (*settings.xonXoff) {
      t.c_iflag |= IXON | IXOFF;
    } else {
      t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
    }
  }
  // One flag covers both directions of hardware flow, so either request turns it on.
  if (l.ctsOutputFlow || l.rts == RtsControl::kHandshake) {
    t.c_cflag |= kHardwareFlow;
  } else {
    t.c_cflag &= ~kHardwareFlow;
  }

  // Always raw: the clone data is binary and CR is a delimiter, not a newline.
  t.c_iflag &=
      ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag |= CLOCAL | CREAD;
  // The descriptor stays non-blocking and poll() does the waiting; VMIN 1 makes an empty read
  // answer EAGAIN, so that a read of 0 bytes always means a hang-up.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;

  tio = t;
  line = l;
  return true;
}

namespace {

// Read-ahead buffers for the ports that are open. A port opened when all are taken reads without.
std::array<ReadAhead, 8> gReadAheadPool;
std::array<bool, 8> gReadAheadInUse{};

ReadAhead* TakeReadAheadSlot() {
  for (std::size_t i = 0; i < gReadAheadPool.size(); ++i) {
    if (!gReadAheadInUse[i]) {
      gReadAheadInUse[i] = true;
      gReadAheadPool[i].position = gReadAheadPool[i].length = 0;
      return &gReadAheadPool[i];
    }
  }
  return nullptr;
}

void ReleaseReadAheadSlot(const ReadAhead* ahead) {
  if (ahead != nullptr)
    gReadAheadInUse[static_cast<std::size_t>(ahead - gReadAheadPool.data())] = false;
}

std::int32_t AheadWaiting(const PortEntry& entry) {
  return entry.ahead != nullptr ? entry.ahead->Waiting() : 0;
}

}  // namespace

DevicePathStyle NativeDevicePathStyle() {
  return DevicePathStyle::kPosix;
}

PortStatus BackendOpen(PortEntry& entry, const char* path, std::int32_t, std::int32_t) {
  const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    RecordOpenError(errno, path);
    return kPortCannotOpen;
  }
  // TIOCEXCL keeps out other openers (except root); the lock also covers root and is released by
  // the kernel if this process dies.
  termios tio{};
  // The descriptor stays non-blocking: every wait is a poll() with the port's time-outs, and a
  // stalled line can never hold a read or write past its deadline.
  if (ioctl(fd, TIOCEXCL) != 0 || flock(fd, LOCK_EX | LOCK_NB) != 0 || tcgetattr(fd, &tio) != 0) {
    RecordOpenError(errno, path);
    close(fd);
    return kPortCannotOpen;
  }
  AskForLowLatency(fd);
  entry.fd = fd;
  entry.ahead = TakeReadAheadSlot();
  entry.line.ctsOutputFlow = (tio.c_cflag & kHardwareFlow) != 0;
  return kPortOk;
}

bool BackendClose(PortEntry& entry) {
  // The exclusive flag belongs to the tty, not to this descriptor: drop it so a later open works
  // while another descriptor keeps the tty alive.
  ioctl(entry.fd, TIOCNXCL);
  if (close(entry.fd) != 0 && errno != EINTR) {
    RecordErrno(errno);
    return false;
  }
  ReleaseReadAheadSlot(entry.ahead);
  entry.ahead = nullptr;
  return true;
}

PortStatus BackendApply(PortEntry& entry, const LinkSettings& settings) {
  termios tio{};
  if (tcgetattr(entry.fd, &tio) != 0) {
    RecordErrno(errno);
    return kPortCallFailed;
  }
  LineState line = entry.line;
  if (!ApplyToTermios(settings, tio, line)) {
    RecordPortError(EINVAL, "setting not supported by this system");
    return kPortCallFailed;
  }
  if (!WriteTermios(entry.fd, tio)) return kPortCallFailed;
  entry.line = line;
  return WriteModemLines(entry.fd, line) ? kPortOk : kPortCallFailed;
}

PortStatus BackendSetReadTimeout(PortEntry& entry, std::int32_t milliseconds) {
  entry.readTimeoutMs = milliseconds;
  return kPortOk;
}

PortStatus BackendSetWriteTimeout(PortEntry& entry, std::int32_t milliseconds) {
  entry.writeTimeoutMs = milliseconds;
  return kPortOk;
}

std::int32_t BackendInQueueCount(PortEntry& entry) {
  int waiting = 0;
  if (ioctl(entry.fd, FIONREAD, &waiting) != 0) {
    MarkFailed(entry, errno);
    return 0;
  }
  waiting += AheadWaiting(entry);
  if (waiting == 0) {
    // Nothing waiting may also mean nobody is there any more.
    pollfd p{entry.fd, POLLIN, 0};
    if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      MarkFailed(entry, EIO);
    }
  }
  return waiting;
}

std::int32_t BackendOutQueueCount(PortEntry& entry) {
  int queued = 0;
  if (ioctl(entry.fd, TIOCOUTQ, &queued) != 0) {
    RecordErrno(errno);
    return 0;
  }
  return queued;
}

namespace {

std::int32_t TakeReadAhead(ReadAhead& ahead, unsigned char* out, std::int32_t room) {
  const std::int32_t count = std::min(room, ahead.Waiting());
  std::memcpy(out, ahead.bytes + ahead.position, static_cast<std::size_t>(count));
  ahead.position = static_cast<std::uint16_t>(ahead.position + count);
  if (ahead.position == ahead.length) ahead.position = ahead.length = 0;
  return count;
}

// One read without waiting. Answers false when the read failed for good (the port is marked failed
// or the error recorded); true otherwise, also when nothing was there.
bool ReadOnce(PortEntry& entry, unsigned char* out, std::int32_t room, std::int32_t& got) {
  ReadAhead* ahead = entry.ahead;
  if (ahead != nullptr && ahead->Waiting() > 0) {
    got += TakeReadAhead(*ahead, out, room);
    return true;
  }
  const bool intoAhead = ahead != nullptr && room < static_cast<std::int32_t>(sizeof ahead->bytes);
  const ssize_t n = intoAhead ? read(entry.fd, ahead->bytes, sizeof ahead->bytes)
                              : read(entry.fd, out, static_cast<std::size_t>(room));
  if (n > 0) {
    if (intoAhead) {
      ahead->length = static_cast<std::uint16_t>(n);
      got += TakeReadAhead(*ahead, out, room);
    } else {
      got += static_cast<std::int32_t>(n);
    }
    return true;
  }
  if (n == 0) {
    MarkFailed(entry, EIO);  // a hung-up tty reads as end of file
    return false;
  }
  if (errno == EAGAIN) return true;
  if (errno == EINTR) return false;  // the caller looks at its signals
  if (DeviceGone(errno)) {
    MarkFailed(entry, errno);
  } else {
    RecordErrno(errno);
  }
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
      if (errno != EINTR) RecordErrno(errno);
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
  if (toggleRts) SetModemLine(entry.fd, TIOCM_RTS, true);

  std::int32_t written = 0;
  while (written < count) {
    const ssize_t n = write(entry.fd, in + written, static_cast<std::size_t>(count - written));
    if (n > 0) {
      written += static_cast<std::int32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) break;
    if (n < 0 && errno != EAGAIN) {
      if (DeviceGone(errno)) {
        MarkFailed(entry, errno);
      } else {
        RecordErrno(errno);
      }
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
    DrainUntil(entry.fd, deadline);
    SetModemLine(entry.fd, TIOCM_RTS, false);
  }
  return written;
}

void BackendPurge(PortEntry& entry, bool receive) {
  if (receive && entry.ahead != nullptr) entry.ahead->position = entry.ahead->length = 0;
  tcflush(entry.fd, receive ? TCIFLUSH : TCOFLUSH);
}

PortStatus BackendSetBaudRate(PortEntry& entry, std::uint32_t bitsPerSecond) {
  termios tio{};
  const std::optional<speed_t> code = SpeedCode(bitsPerSecond);
  if (!code) {
    RecordPortError(EINVAL, "speed not supported by this system");
    return kPortCallFailed;
  }
  if (tcgetattr(entry.fd, &tio) != 0) {
    RecordErrno(errno);
    return kPortCallFailed;
  }
  cfsetispeed(&tio, *code);
  cfsetospeed(&tio, *code);
  return WriteTermios(entry.fd, tio) ? kPortOk : kPortCallFailed;
}

PortStatus BackendSetFlowLimits(PortEntry& entry, std::uint16_t xoffLimit, std::uint16_t xonLimit) {
  // The tty layer picks its own thresholds; kept only so the port reports what it was given.
  entry.xoffLimit = xoffLimit;
  entry.xonLimit = xonLimit;
  return kPortOk;
}

PortWait BackendWaitForInput(PortEntry& entry, std::int32_t timeoutMs) {
  if (AheadWaiting(entry) > 0) return PortWait::kReady;
  pollfd p{entry.fd, POLLIN, 0};
  const int ready = poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
  if (ready < 0) {
    if (errno == EINTR) return PortWait::kInterrupted;
    MarkFailed(entry, errno);
    return PortWait::kFailed;
  }
  if (ready == 0) return PortWait::kTimeout;
  if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) return PortWait::kReady;
  // A hang-up can still leave bytes to read; hand those over first.
  int waiting = 0;
  if (ioctl(entry.fd, FIONREAD, &waiting) == 0 && waiting > 0) return PortWait::kReady;
  MarkFailed(entry, EIO);
  return PortWait::kFailed;
}

}  // namespace talven::detail
