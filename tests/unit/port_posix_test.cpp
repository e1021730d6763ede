// The port layer over pseudo-terminals: the slave is the port's device, the master is the cable.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "pty_pair.h"
#include "serial/port.h"
#include "serial/port_backend.h"

namespace talven {
namespace {

using std::chrono::milliseconds;

constexpr PortNumber kPort = 201;
constexpr PortNumber kOtherPort = 202;

class PortTest : public testing::Test {
 protected:
  void SetUp() override {
    alarm(20);  // a port call that never returns must fail the run, not stall it
    ASSERT_FALSE(pty_.path.empty());
    ports_.AssignDevicePath(kPort, pty_.path.c_str());
    ASSERT_EQ(ports_.OpenPort(kPort, 4096, 4096), kPortOk);
  }
  void TearDown() override { alarm(0); }
  std::string ReadPort(std::int32_t count) {
    std::string got(static_cast<std::size_t>(count), '\0');
    got.resize(static_cast<std::size_t>(ports_.ReadBytes(kPort, got.data(), count)));
    return got;
  }

  Pty pty_;
  PortRegistry ports_;
};

class PortModelWordTest : public PortTest,
                          public testing::WithParamInterface<std::pair<LinkSettingsWord, speed_t>> {
};

TEST_P(PortModelWordTest, SlaveShowsRawEightNOneAtTheModelSpeed) {
  ASSERT_EQ(ports_.ApplyLinkSettings(kPort, GetParam().first), kPortOk);
  const termios t = pty_.Settings();
  EXPECT_EQ(cfgetospeed(&t), GetParam().second);
  EXPECT_EQ(cfgetispeed(&t), GetParam().second);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

INSTANTIATE_TEST_SUITE_P(Words, PortModelWordTest,
                         testing::Values(std::pair{kDefaultLinkSettings, speed_t{B9600}},
                                         std::pair{0x2011511Cu, speed_t{B57600}},
                                         std::pair{0x20115117u, speed_t{B9600}},
                                         std::pair{0x2011511Du, speed_t{B115200}},
                                         std::pair{0x20115119u, speed_t{B19200}}));

TEST_F(PortTest, CrAndLfPassUnalteredBothWaysAndWaitingBytesComeAtOnce) {
  const std::string bytes("\r\n\r\r\n\0x", 7);
  pty_.Send(bytes);
  char first = 0;
  ASSERT_EQ(ports_.ReadArrivingBytes(kPort, &first, 1, 1000), 1);
  std::this_thread::sleep_for(milliseconds(20));  // let the pty pass all of them on
  const auto start = Clock::now();
  EXPECT_EQ(first + ReadPort(6), bytes);
  EXPECT_LT(MsSince(start), 500);  // the read time-out is 1000
  EXPECT_EQ(ports_.WriteBytes(kPort, bytes.data(), 7), 7);
  EXPECT_EQ(pty_.Receive(7), bytes);
}

TEST_F(PortTest, HeldDeviceCannotBeOpenedAgainUntilClosed) {
  EXPECT_EQ(ports_.OpenPort(kPort, 4096, 4096), kPortCallFailed);
  ports_.AssignDevicePath(kOtherPort, pty_.path.c_str());
  EXPECT_EQ(ports_.OpenPort(kOtherPort, 4096, 4096), kPortCannotOpen);
  EXPECT_STREQ(ports_.LastPortErrorText(), "in use by another program");
  EXPECT_EQ(ports_.LastPortFault(), PortFault::kInUse);
  EXPECT_EQ(ports_.ClosePort(kOtherPort), kPortNotOpen);
  EXPECT_EQ(ports_.WriteBytes(kPort, "ok", 2), 2);  // the first open is untouched
  EXPECT_EQ(pty_.Receive(2), "ok");
  ASSERT_EQ(ports_.ClosePort(kPort), kPortOk);
  EXPECT_EQ(ports_.ClosePort(kPort), kPortNotOpen);
  EXPECT_EQ(ports_.OpenPort(kOtherPort, 4096, 4096), kPortOk);
}

TEST_F(PortTest, DeviceHeldByAnotherProcessCannotBeOpened) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ports_.AssignDevicePath(kOtherPort, pty_.path.c_str());
    _exit(ports_.OpenPort(kOtherPort, 4096, 4096));
  }
  int status = 0;
  const auto start = Clock::now();
  while (waitpid(child, &status, WNOHANG) == 0 && MsSince(start) < 5000) {
    std::this_thread::sleep_for(milliseconds(5));
  }
  if (kill(child, SIGKILL) == 0) waitpid(child, &status, 0);  // still there: it hung
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), kPortCannotOpen);
}

TEST_F(PortTest, PathsThatAreNotSerialPortsCannotBeOpened) {
  for (const char* path : {"/dev/null", "/nonexistent/ttyX"}) {
    ports_.AssignDevicePath(kOtherPort, path);
    EXPECT_EQ(ports_.OpenPort(kOtherPort, 4096, 4096), kPortCannotOpen) << path;
    EXPECT_EQ(ports_.ClosePort(kOtherPort), kPortNotOpen) << path;
  }
  EXPECT_STREQ(ports_.LastPortErrorText(), "no such device");
  EXPECT_EQ(ports_.LastPortFault(), PortFault::kNotFound);
}

// Another holder's lock refuses the open, and the tty is left as shared as it was.
TEST_F(PortTest, LockedDeviceIsRefusedAndLeftNonExclusive) {
  Pty other;
  const int holder = open(other.path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  ports_.AssignDevicePath(kOtherPort, other.path.c_str());
  EXPECT_EQ(ports_.OpenPort(kOtherPort, 4096, 4096), kPortCannotOpen);
  EXPECT_EQ(ports_.LastPortFault(), PortFault::kInUse);
  int exclusive = -1;
  ASSERT_EQ(ioctl(other.slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  close(holder);
}

// Out-of-range numbers and a port never opened answer alike.
class UnusablePortTest : public testing::TestWithParam<PortNumber> {};

TEST_P(UnusablePortTest, StatusOneAndZeroCounts) {
  const PortNumber p = GetParam();
  char buf[4] = {};
  PortRegistry ports;
  for (PortStatus s : {ports.ClosePort(p), ports.ApplyLinkSettings(p, kDefaultLinkSettings),
                       ports.SetReadTimeout(p, 10), ports.SetWriteTimeout(p, 10)}) {
    EXPECT_EQ(s, kPortNotOpen);
  }
  for (std::int32_t n :
       {ports.ReadBytes(p, buf, 4), ports.WriteBytes(p, buf, 4), ports.ReadWaitingBytes(p, buf, 4),
        ports.ReadArrivingBytes(p, buf, 4, 10)}) {
    EXPECT_EQ(n, 0);
  }
  EXPECT_FALSE(ports.PortFailed(p));
  if (p < kFirstPort || p > kLastPort) {
    EXPECT_EQ(ports.OpenPort(p, 4096, 4096), kPortNotOpen);
  }
}

INSTANTIATE_TEST_SUITE_P(Numbers, UnusablePortTest, testing::Values(0, 257, -1, 150));

TEST_F(PortTest, CloseAllPortsClosesEveryOpenPort) {
  Pty other;
  ports_.AssignDevicePath(kOtherPort, other.path.c_str());
  ASSERT_EQ(ports_.OpenPort(kOtherPort, 4096, 4096), kPortOk);
  ports_.CloseAllPorts();
  EXPECT_EQ(ports_.ClosePort(kPort), kPortNotOpen);
  EXPECT_EQ(ports_.ClosePort(kOtherPort), kPortNotOpen);
}

// Two sessions in one process: each registry has its own table and last error, and closes its
// ports when it goes.
TEST_F(PortTest, RegistriesKeepTheirOwnPortsAndErrors) {
  Pty other;
  const PortFault before = ports_.LastPortFault();
  {
    PortRegistry second;
    second.AssignDevicePath(kPort, other.path.c_str());
    ASSERT_EQ(second.OpenPort(kPort, 4096, 4096), kPortOk);  // the same number, another device
    EXPECT_EQ(second.WriteBytes(kPort, "b", 1), 1);
    EXPECT_EQ(other.Receive(1), "b");
    second.AssignDevicePath(kOtherPort, "/nonexistent/ttyX");
    EXPECT_EQ(second.OpenPort(kOtherPort, 4096, 4096), kPortCannotOpen);
    EXPECT_EQ(second.LastPortFault(), PortFault::kNotFound);
    EXPECT_EQ(ports_.LastPortFault(), before);
    EXPECT_EQ(ports_.WriteBytes(kPort, "a", 1), 1);
    EXPECT_EQ(pty_.Receive(1), "a");
  }
  ports_.AssignDevicePath(kOtherPort, other.path.c_str());
  EXPECT_EQ(ports_.OpenPort(kOtherPort, 4096, 4096), kPortOk) << ports_.LastPortErrorText();
}

TEST_F(PortTest, ReadCollectsBytesSpacedWithinTheTimeoutThenStops) {
  ASSERT_EQ(ports_.SetReadTimeout(kPort, 300), kPortOk);
  std::thread sender([this] {
    for (const char* c : {"x", "y", "z"}) {
      pty_.Send(c);
      std::this_thread::sleep_for(milliseconds(60));
    }
  });
  const auto start = Clock::now();
  const std::string got = ReadPort(10);
  const long long elapsed = MsSince(start);
  sender.join();
  EXPECT_EQ(got, "xyz");
  EXPECT_GE(elapsed, 200);  // kept waiting after the first byte
  EXPECT_LT(elapsed, 2000);
}

TEST_F(PortTest, WriteReachesTheCableAndStallsOnlyUntilTheTimeout) {
  const std::string block(1000, 'w');
  EXPECT_EQ(ports_.WriteBytes(kPort, block.data(), 1000), 1000);
  EXPECT_EQ(pty_.Receive(1000), block);

  // Nobody reads the master: the pty fills up and the write gives up with a partial count.
  ASSERT_EQ(ports_.SetWriteTimeout(kPort, 100), kPortOk);
  const std::string flood(1 << 20, 'f');
  const auto start = Clock::now();
  EXPECT_LT(ports_.WriteBytes(kPort, flood.data(), 1 << 20), 1 << 20);
  EXPECT_GE(MsSince(start), 50);
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_FALSE(ports_.PortFailed(kPort));
}

TEST_F(PortTest, SilentCableTimesOutWithoutFailing) {
  char c = 0;
  EXPECT_EQ(ports_.ReadArrivingBytes(kPort, &c, 1, 50), 0);
  EXPECT_EQ(ports_.ReadWaitingBytes(kPort, &c, 1), 0);
  // A zero time-out returns at once.
  ASSERT_EQ(ports_.SetReadTimeout(kPort, 0), kPortOk);
  auto start = Clock::now();
  EXPECT_EQ(ReadPort(1), "");
  EXPECT_LT(MsSince(start), 500);  // the time-out set at open is 1000
  ASSERT_EQ(ports_.SetReadTimeout(kPort, 100), kPortOk);
  start = Clock::now();
  EXPECT_EQ(ReadPort(1), "");
  EXPECT_GE(MsSince(start), 50);
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_FALSE(ports_.PortFailed(kPort));
}

// Each way of noticing that the cable has gone.
enum class Probe { kWait, kWaiting, kRead };

class PortHangUpTest : public PortTest, public testing::WithParamInterface<Probe> {};

TEST_P(PortHangUpTest, ClosedMasterFailsThePort) {
  close(pty_.master);
  pty_.master = -1;
  char c = 0;
  switch (GetParam()) {
    case Probe::kWait:
      EXPECT_EQ(ports_.ReadArrivingBytes(kPort, &c, 1, 2000), 0);
      break;
    case Probe::kWaiting:
      EXPECT_EQ(ports_.ReadWaitingBytes(kPort, &c, 1), 0);
      break;
    case Probe::kRead:
      EXPECT_EQ(ports_.ReadBytes(kPort, &c, 1), 0);
      break;
  }
  EXPECT_TRUE(ports_.PortFailed(kPort));
  EXPECT_EQ(ports_.LastPortFault(), PortFault::kVanished);
  EXPECT_EQ(ports_.ClosePort(kPort), kPortOk);  // open until the caller closes it
}

INSTANTIATE_TEST_SUITE_P(Probes, PortHangUpTest,
                         testing::Values(Probe::kWait, Probe::kWaiting, Probe::kRead));

TEST_F(PortTest, RefusedWordsLeaveTheLineAlone) {
  const termios before = pty_.Settings();
  // Parity 6, RTS 5, 14400 baud (no POSIX speed), 4 data bits.
  for (LinkSettingsWord word : {0x20115617u, 0x20515117u, 0x20115118u, 0x20111117u}) {
    EXPECT_EQ(ports_.ApplyLinkSettings(kPort, word), kPortCallFailed) << std::hex << word;
    EXPECT_EQ(ports_.LastPortFault(), PortFault::kSettingsRefused) << std::hex << word;
    EXPECT_EQ(pty_.Settings().c_cflag, before.c_cflag) << std::hex << word;
  }
}

// The termios mapping alone, for what the pty cannot show.
struct TermiosCase {
  const char* name;
  LinkSettingsWord word;
  tcflag_t cflagSet;
  tcflag_t cflagClear;
  tcflag_t iflagSet;
};

class LinkTermiosTest : public testing::TestWithParam<TermiosCase> {};

TEST_P(LinkTermiosTest, Flags) {
  termios t{};
  detail::LineState line;
  ASSERT_TRUE(detail::ApplyToTermios(DecodeLinkSettings(GetParam().word), t, line));
  EXPECT_EQ(t.c_cflag & GetParam().cflagSet, GetParam().cflagSet);
  EXPECT_EQ(t.c_cflag & GetParam().cflagClear, 0u);
  EXPECT_EQ(t.c_iflag & GetParam().iflagSet, GetParam().iflagSet);
}

INSTANTIATE_TEST_SUITE_P(
    Words, LinkTermiosTest,
    testing::Values(TermiosCase{"Odd", 0x200, PARENB | PARODD, CMSPAR, INPCK},
                    TermiosCase{"Mark", 0x400, PARENB | PARODD | CMSPAR, 0, INPCK},
                    TermiosCase{"Space", 0x500, PARENB | CMSPAR, PARODD, INPCK},
                    TermiosCase{"SevenBitsTwoStop", 0x4030, CS7 | CSTOPB, CS8 & ~CS7, 0},
                    TermiosCase{"OneAndHalfStop", 0x20, CSTOPB, 0, 0},
                    TermiosCase{"Xon", 0x10000000, 0, CRTSCTS, IXON | IXOFF},
                    TermiosCase{"RtsHandshake", 0x300000, CRTSCTS, 0, 0}),
    [](const testing::TestParamInfo<TermiosCase>& param) { return std::string(param.param.name); });

TEST(LinkTermiosTest, HardwareFlowStaysWhileEitherRequestHoldsIt) {
  termios t{};
  detail::LineState line;
  ASSERT_TRUE(detail::ApplyToTermios(DecodeLinkSettings(0x300000), t, line));    // RTS handshake
  ASSERT_TRUE(detail::ApplyToTermios(DecodeLinkSettings(0x02000000), t, line));  // CTS flow off
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  ASSERT_TRUE(detail::ApplyToTermios(DecodeLinkSettings(0x100000), t, line));  // RTS off
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
}

}  // namespace
}  // namespace talven
