// Port numbers: the n of COMn, shared by the session's settings and the port registry.
#pragma once

#include <cstdint>

namespace talven {

using PortNumber = std::int32_t;

inline constexpr PortNumber kFirstPort = 1;
inline constexpr PortNumber kLastPort = 256;
// Not chosen yet: setup asks for a port while the session's port is this. No port has this number
// nor is any port argument likely to give it, so that every number from 1 to 256 can be a port.
inline constexpr PortNumber kNoPort = INT32_MIN;
// The registry number a device named by path is opened under.
inline constexpr PortNumber kPathPort = 1;

}  // namespace talven
