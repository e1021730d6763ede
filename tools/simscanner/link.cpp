#include "link.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace simscanner {

namespace {

// A peer that sends this much without a CR is not speaking the protocol.
constexpr std::size_t kMaxPending = 1 << 20;

struct SpeedEntry {
  std::uint32_t baud;
  speed_t code;
};

constexpr SpeedEntry kSpeeds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

// Reads and writes block; a periodic tick interrupts them so that their deadlines are looked at.
// The common case is then one plain read or write, as cheap as a bare peer's, with no poll before
// it: the bench measures talven against this program.
constexpr suseconds_t kTickMicroseconds = 50000;

void OnTick(int) {}

bool StartTicks(std::string& error) {
  static bool started = false;
  if (started) return true;
  struct sigaction action {};
  action.sa_handler = OnTick;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked call must return
  const itimerval tick{{0, kTickMicroseconds}, {0, kTickMicroseconds}};
  if (sigaction(SIGALRM, &action, nullptr) != 0 || setitimer(ITIMER_REAL, &tick, nullptr) != 0) {
    error = std::string("tick timer: ") + std::strerror(errno);
    return false;
  }
  started = true;
  return true;
}

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  // Rounded up, so that a wait never returns just short of the deadline and spins.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, 1 << 30));
}

std::string Errno(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

void MakeRaw(termios& tio) {
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
}

}  // namespace

Link::~Link() {
  if (fd_ >= 0) close(fd_);
}

bool Link::OpenDevice(const std::string& path, std::uint32_t baud, std::string& error) {
  const auto speed = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                                  [baud](const SpeedEntry& s) { return s.baud == baud; });
  if (speed == std::end(kSpeeds)) {
    error = "unsupported speed " + std::to_string(baud);
    return false;
  }
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) {
    error = Errno(path.c_str());
    return false;
  }
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) {
    error = Errno(path.c_str());
    return false;
  }
  MakeRaw(tio);
#ifdef CRTSCTS
  tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
  if (cfsetispeed(&tio, speed->code) != 0 || cfsetospeed(&tio, speed->code) != 0 ||
      tcsetattr(fd_, TCSANOW, &tio) != 0 || fcntl(fd_, F_SETFL, O_RDWR) != 0) {
    error = Errno(path.c_str());
    return false;
  }
  return StartTicks(error);
}

bool Link::CreatePty(std::string& slavePath, std::string& error) {
  fd_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) {
    error = Errno("posix_openpt");
    return false;
  }
  const char* name = ptsname(fd_);
  if (name == nullptr) {
    error = Errno("ptsname");
    return false;
  }
  slavePath = name;
  pty_ = true;
  // Raw but for ICANON: the peer clearing it is how its arrival is seen, since the master end
  // reads the slave end's settings.
  const int slave = open(name, O_RDWR | O_NOCTTY);
  termios tio{};
  if (slave < 0 || tcgetattr(slave, &tio) != 0) {
    error = Errno(name);
    if (slave >= 0) close(slave);
    return false;
  }
  MakeRaw(tio);
  tio.c_lflag |= ICANON;
  const bool set = tcsetattr(slave, TCSANOW, &tio) == 0;
  if (!set) error = Errno(name);
  // Closed here, so that the peer's exit shows as a hang-up.
  close(slave);
  return set && StartTicks(error);
}

bool Link::WaitForPeer(Clock::time_point deadline) {
  if (!pty_) return true;
  for (;;) {
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) {
      error_ = Errno("tcgetattr");
      return false;
    }
    if ((tio.c_lflag & ICANON) == 0) return true;
    if (Clock::now() >= deadline) {
      error_ = "the peer did not open the pseudo-terminal";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool Link::WriteAll(const char* data, std::size_t length, Clock::time_point deadline) {
  while (length > 0) {
    const ssize_t n = write(fd_, data, length);
    if (n > 0) {
      data += n;
      length -= static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      error_ = errno == EIO ? "the peer hung up" : Errno("write");
      return false;
    } else if (Clock::now() >= deadline) {
      error_ = "the line stayed blocked";
      return false;
    }
  }
  return true;
}

bool Link::WritePaced(const char* data, std::size_t length, Clock::time_point deadline) {
  // Whole milliseconds of line time at once: finer sleeps would only measure the scheduler.
  const std::size_t chunk = std::max<std::size_t>(1, pacingBaud_ / 10000);
  const double nanosecondsPerByte = 1e10 / pacingBaud_;
  wireFree_ = std::max(wireFree_, Clock::now());
  for (std::size_t offset = 0; offset < length; offset += chunk) {
    const std::size_t count = std::min(chunk, length - offset);
    wireFree_ +=
        std::chrono::nanoseconds(std::llround(static_cast<double>(count) * nanosecondsPerByte));
    std::this_thread::sleep_until(wireFree_);
    if (!WriteAll(data + offset, count, deadline)) return false;
  }
  return true;
}

bool Link::SendLine(std::string_view text, Clock::time_point deadline) {
  outgoing_.assign(text);
  outgoing_ += '\r';
  if (lfAfterCr_) outgoing_ += '\n';
  if (pacingBaud_ == 0) return WriteAll(outgoing_.data(), outgoing_.size(), deadline);
  if (bytesSent_ + bytesReceived_ == 0) firstExchange_ = Clock::now();
  if (!WritePaced(outgoing_.data(), outgoing_.size(), deadline)) return false;
  bytesSent_ += outgoing_.size();
  Exchanged(Clock::now());
  awaitingAnswer_ = true;
  return true;
}

void Link::Received(std::size_t count) {
  const Clock::time_point now = Clock::now();
  if (bytesSent_ + bytesReceived_ == 0) firstExchange_ = now;
  if (awaitingAnswer_) {
    turnaroundsUs_.push_back(
        std::chrono::duration<double, std::micro>(now - lastExchange_).count());
    awaitingAnswer_ = false;
  }
  bytesReceived_ += count;
  receiveFree_ =
      std::max(receiveFree_, now) +
      std::chrono::nanoseconds(std::llround(static_cast<double>(count) * 1e10 / pacingBaud_));
}

void Link::Exchanged(Clock::time_point when) {
  lastExchange_ = std::max(lastExchange_, when);
}

std::string Link::PacingReport() const {
  std::vector<double> sorted = turnaroundsUs_;
  std::sort(sorted.begin(), sorted.end());
  const double median = sorted.empty() ? 0.0 : sorted[sorted.size() / 2];
  double sum = 0;
  for (const double us : sorted) sum += us;
  const double mean = sorted.empty() ? 0.0 : sum / static_cast<double>(sorted.size());
  const double wire = static_cast<double>(bytesSent_ + bytesReceived_) * 10.0 / pacingBaud_;
  char text[256];
  std::snprintf(text, sizeof text,
                "paced at %u baud: %llu bytes sent, %llu received, wire time %.4f s, transfer "
                "%.4f s; turnaround median %.1f us, mean %.1f us over %zu lines",
                pacingBaud_, static_cast<unsigned long long>(bytesSent_),
                static_cast<unsigned long long>(bytesReceived_), wire,
                std::chrono::duration<double>(lastExchange_ - firstExchange_).count(), median, mean,
                sorted.size());
  return text;
}

ReadStatus Link::ReadLine(std::string& line, Clock::time_point deadline) {
  for (;;) {
    const std::size_t cr = pending_.find('\r', pendingStart_);
    if (cr != std::string::npos) {
      std::size_t begin = pendingStart_;
      while (begin < cr && pending_[begin] == '\n') ++begin;
      line.assign(pending_, begin, cr - begin);
      pendingStart_ = cr + 1;
      if (pacingBaud_ != 0) {
        // Taken in only once its last byte would have arrived.
        std::this_thread::sleep_until(receiveFree_);
        Exchanged(Clock::now());
      }
      return ReadStatus::kLine;
    }
    pending_.erase(0, pendingStart_);
    pendingStart_ = 0;
    if (pending_.size() > kMaxPending) {
      error_ = "no CR in " + std::to_string(pending_.size()) + " bytes";
      return ReadStatus::kError;
    }

    if (Clock::now() >= deadline) return ReadStatus::kTimeout;
    char buffer[65536];
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      pending_.append(buffer, static_cast<std::size_t>(n));
      if (pacingBaud_ != 0) Received(static_cast<std::size_t>(n));
    } else if (n == 0 || errno == EIO) {
      return ReadStatus::kHangUp;
    } else if (errno != EINTR) {
      error_ = Errno("read");
      return ReadStatus::kError;
    }
  }
}

void Link::Linger(Clock::time_point deadline) {
  if (!pty_) {
    while (tcdrain(fd_) != 0 && errno == EINTR && Clock::now() < deadline) {
    }
    return;
  }
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, MillisecondsUntil(deadline));
    if (ready == 0 || (ready < 0 && errno != EINTR)) return;
    if ((p.revents & (POLLHUP | POLLERR)) != 0) return;
    char buffer[4096];
    if ((p.revents & POLLIN) != 0 && read(fd_, buffer, sizeof buffer) <= 0 && errno != EAGAIN) {
      return;
    }
  }
}

}  // namespace simscanner
