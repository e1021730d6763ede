// FTDI adapters hold each burst of received bytes up to their latency timer (16 ms unless set
// lower) before passing it on, so every reply of a lock-step clone waits that much more than the
// line needs. Linux asks the driver for low latency on open; on Windows the COM API cannot, and
// the timer is set in the Device Manager. These read the driver's setting and word the advice.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "process/port_number.h"

namespace talven {

// One FTDI device instance as the registry describes it: its "PortName" ("COM3") and its
// "LatencyTimer" in milliseconds.
struct FtdiPortSetting {
  std::string portName;
  unsigned long latencyMs = 0;
};

// Only a timer above 1 ms is worth a word; the instances that name no COM port are dropped.
std::map<PortNumber, unsigned long> SlowFtdiPorts(
    const std::map<std::string, FtdiPortSetting>& instances);

// "FTDI latency timer 16 ms (...); set 1 ms in the Device Manager: ..." for the port listing and
// the start of a session.
std::string FtdiLatencyAdvice(unsigned long latencyMs);

// The FTDI ports of this machine whose timer is above 1 ms; always empty where the driver sets
// low latency itself (everywhere but Windows).
std::map<PortNumber, unsigned long> ReadSlowFtdiPorts();

}  // namespace talven
