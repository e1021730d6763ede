#include "serial/port_error_exit.h"

#include <cstdio>

#include "process/config.h"
#include "process/exit_path.h"
#include "serial/port.h"

namespace talven {

[[noreturn]] void LeaveForPortError(const char* reason) {
  EndProgressLine();
  std::printf("RS-232C ERROR\n");
  char device[1100];
  if (gConfig.port >= kFirstPort && gConfig.port <= kLastPort) {
    FormatDevicePath(gConfig.port, device, sizeof device);
  } else {
    std::snprintf(device, sizeof device, "port %d", gConfig.port);
  }
  ReportError(device, reason);
  Terminate(-1);
}

}  // namespace talven
