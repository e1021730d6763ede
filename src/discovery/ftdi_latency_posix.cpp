#include "discovery/ftdi_latency.h"

namespace talven {

// The driver takes the low-latency request that every open makes (see port_posix.cpp).
std::map<PortNumber, unsigned long> ReadSlowFtdiPorts() {
  return {};
}

}  // namespace talven
