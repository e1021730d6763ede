// Decoded link settings mapped onto termios: pure, so that every case is tested without a device.
#include <termios.h>

#include "serial/port_backend.h"

namespace talven::detail {
namespace {

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

}  // namespace

bool SpeedCode(std::uint32_t bitsPerSecond, speed_t& code) {
  for (const SpeedEntry& s : kSpeeds) {
    if (s.bitsPerSecond == bitsPerSecond) {
      code = s.code;
      return true;
    }
  }
  return false;
}

bool HardwareFlowOn(const termios& tio) {
  return (tio.c_cflag & kHardwareFlow) != 0;
}

bool ApplyToTermios(const LinkSettings& settings, termios& tio, LineState& line) {
  termios t = tio;
  LineState l = line;

  if (settings.baudRate) {
    speed_t code = 0;
    if (!SpeedCode(*settings.baudRate, code) || cfsetispeed(&t, code) != 0 ||
        cfsetospeed(&t, code) != 0) {
      return false;
    }
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

}  // namespace talven::detail
