#include "discovery/ftdi_latency.h"

#include "discovery/port_list.h"
#include "serial/port.h"

namespace talven {

std::map<PortNumber, unsigned long> SlowFtdiPorts(
    const std::map<std::string, FtdiPortSetting>& instances) {
  std::map<PortNumber, unsigned long> slow;
  for (const auto& [instance, setting] : instances) {
    const int number = ComPortNumber(setting.portName);
    if (number != 0 && setting.latencyMs > 1) slow[number] = setting.latencyMs;
  }
  return slow;
}

std::string FtdiLatencyAdvice(unsigned long latencyMs) {
  return "FTDI latency timer " + std::to_string(latencyMs) +
         " ms (each reply may wait that long); set 1 ms in the Device Manager: the port, Port "
         "Settings, Advanced, Latency Timer";
}

}  // namespace talven
