#include "session/driver.h"

#include <cstdio>

#include "clone/transfer.h"
#include "serial/port.h"
#include "session/clock.h"
#include "session/config.h"
#include "session/exit_path.h"
#include "session/platform.h"
#include "session/setup.h"

namespace talven {

namespace {

inline constexpr std::int32_t kQueueSize = 4096;
inline constexpr std::int32_t kReadTimeoutMs = 100;

[[noreturn]] void LeaveForPortError() {
  std::printf("RS-232C ERROR\n");
  char device[1100];
  FormatDevicePath(gConfig.port, device, sizeof device);
  ReportError(device, LastPortErrorText());
  Terminate(-1);
}

int RunTransfer() {
  switch (gConfig.mode) {
    case kMaster:
      return RunMaster();
    case kSlave:
      return RunSlave();
    case kCompare:
      return ChosenModel().compareAllowed ? RunCompare() : 0;
    default:
      return 0;
  }
}

}  // namespace

[[noreturn]] void RunSession(int argc, char** argv) {
  ConfigureStandardOutput();
  InstallExitSignals();
  std::printf("               ***** TALVEN EMULATOR PRO %s *****\n\n", kVersionText);

  SetupSession(argc, argv);

  if (gConfig.portPath[0] != '\0') AssignDevicePath(gConfig.port, gConfig.portPath);
  if (OpenPort(gConfig.port, kQueueSize, kQueueSize) != kPortOk) LeaveForPortError();
  if (ApplyLinkSettings(gConfig.port, ChosenModel().linkSettingsWord) != kPortOk) {
    LeaveForPortError();
  }
  SetReadTimeout(gConfig.port, kReadTimeoutMs);

  const int result = RunTransfer();

  SubtractTimeOfDay(gStopwatch.end, gStopwatch.start);
  if (result == 1) {
    std::printf("\n\n(^_^)/  complete\n");
    char line[96];
    FormatTotalTime(gStopwatch.end, line, sizeof line);
    std::fputs(line, stdout);
  } else {
    std::printf("\n\n(x_x);  error\n");
  }
  CloseAllPorts();
  Terminate(0);
}

}  // namespace talven
