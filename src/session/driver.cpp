#include "session/driver.h"

#include <cstdio>

#include "clone/transfer.h"
#include "process/clock.h"
#include "process/config.h"
#include "process/exit_path.h"
#include "process/platform.h"
#include "process/signals.h"
#include "serial/port.h"
#include "serial/port_error_exit.h"
#include "session/setup.h"

namespace talven {

namespace {

inline constexpr std::int32_t kQueueSize = 4096;
inline constexpr std::int32_t kReadTimeoutMs = 100;

// The reason for a port that would not open or take the model's settings, with a next step for
// the commonest mistakes.
void DescribeOpenFailure(char* reason, std::size_t capacity) {
  const char* text = LastPortErrorText();
  switch (LastPortFault()) {
    case PortFault::kSettingsRefused: {
      const auto baud = DecodeLinkSettings(ChosenModel().linkSettingsWord).baudRate;
      std::snprintf(reason, capacity, "settings not accepted (%u baud): %s",
                    static_cast<unsigned>(baud.value_or(0)), text);
      return;
    }
    case PortFault::kNotFound:
      std::snprintf(reason, capacity, "%s; talven --list-ports lists the serial ports there are",
                    text);
      return;
    case PortFault::kInUse:
      std::snprintf(reason, capacity, "%s; close that program and try again", text);
      return;
    default:
      std::snprintf(reason, capacity, "%s", text);
      return;
  }
}

[[noreturn]] void LeaveForOpenFailure() {
  char reason[400];
  DescribeOpenFailure(reason, sizeof reason);
  LeaveForPortError(reason);
}

bool RunTransfer() {
  switch (gConfig.mode) {
    case kMaster:
      return RunMaster();
    case kSlave:
      return RunSlave();
    case kCompare:
      return ChosenModel().compareAllowed ? RunCompare() : false;
    default:
      return false;
  }
}

}  // namespace

[[noreturn]] void RunSession(int argc, char** argv, int failedStatus) {
  ConfigureStandardOutput();
  InstallSignalHandlers();
  std::printf("               ***** TALVEN EMULATOR PRO %s *****\n\n", kVersionText);

  SetupSession(argc, argv);

  if (gConfig.portPath[0] != '\0') AssignDevicePath(gConfig.port, gConfig.portPath);
  if (OpenPort(gConfig.port, kQueueSize, kQueueSize) != kPortOk) LeaveForOpenFailure();
  if (ApplyLinkSettings(gConfig.port, ChosenModel().linkSettingsWord) != kPortOk) {
    LeaveForOpenFailure();
  }
  // Without its read time-out every wait would end at once: the exchange could not be timed.
  if (SetReadTimeout(gConfig.port, kReadTimeoutMs) != kPortOk) LeaveForOpenFailure();

  const bool completed = RunTransfer();

  SubtractTimeOfDay(gStopwatch.end, gStopwatch.start);
  if (completed) {
    std::printf("\n\n(^_^)/  complete\n");
    char line[96];
    FormatTotalTime(gStopwatch.end, line, sizeof line);
    std::fputs(line, stdout);
  } else {
    std::printf("\n\n(x_x);  error\n");
  }
  CloseAllPorts();
  Terminate(completed ? 0 : failedStatus);
}

}  // namespace talven
