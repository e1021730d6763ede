#include "discovery/ftdi_latency.h"

#include <gtest/gtest.h>

namespace talven {
namespace {

TEST(FtdiLatency, OnlyComPortsAboveOneMillisecondAreSlow) {
  const std::map<std::string, FtdiPortSetting> instances = {
      {"VID_0403+PID_6001+A1\\0000", {"COM3", 16}},   {"VID_0403+PID_6001+B2\\0000", {"COM4", 1}},
      {"VID_0403+PID_6015+C3\\0000", {"COM12", 2}},   {"VID_0403+PID_6001+D4\\0000", {"LPT1", 16}},
      {"VID_0403+PID_6001+E5\\0000", {"COM300", 16}}, {"VID_0403+PID_6001+F6\\0000", {"COM5", 0}},
  };
  EXPECT_EQ(SlowFtdiPorts(instances), (std::map<PortNumber, unsigned long>{{3, 16}, {12, 2}}));
  EXPECT_EQ(FtdiLatencyAdvice(16),
            "FTDI latency timer 16 ms (each reply may wait that long); set 1 ms in the Device "
            "Manager: the port, Port Settings, Advanced, Latency Timer");
}

}  // namespace
}  // namespace talven
