// The one process-wide record of session settings, filled by setup and read by every later step.
#pragma once

#include <cstdint>
#include <cstdio>

#include "serial/port.h"
#include "session/catalogue.h"

namespace talven {

using PortNumber = std::int32_t;
inline constexpr PortNumber kNoPort = kUnchosenPort;  // so that 255 can be a port
// The registry number a device named by path is opened under.
inline constexpr PortNumber kPathPort = 1;

// The clone file name holds at most this many characters.
inline constexpr std::size_t kFileNameMax = 1023;

struct SessionConfig {
  ModelId model = kNoModel;
  PortNumber port = kNoPort;
  std::int32_t mode = kNoMode;
  char fileName[kFileNameMax + 1] = {};
  std::FILE* cloneFile = nullptr;
  std::int32_t pauseOnExit = 1;
  std::int32_t checksumRequired = 0;
  std::uint16_t progressScale = 0;
  // A device named by path on the command line (POSIX); shown in the summary instead of the number.
  char portPath[kFileNameMax + 1] = {};
};

extern SessionConfig gConfig;

// The catalogue row of the chosen model; only valid once a model is chosen.
const ModelEntry& ChosenModel();

}  // namespace talven
