// The one process-wide record of session settings, filled by setup and read by every later step.
#pragma once

#include <cstdint>
#include <cstdio>

#include "models/catalogue.h"
#include "process/port_number.h"

namespace talven {

// The clone file name holds at most this many characters.
inline constexpr std::size_t kFileNameMax = 1023;

struct SessionConfig {
  ModelId model = kNoModel;
  PortNumber port = kNoPort;
  std::int32_t mode = kNoMode;
  char fileName[kFileNameMax + 1] = {};
  std::FILE* cloneFile = nullptr;
  bool pauseOnExit = true;
  bool checksumRequired = false;
  std::uint16_t progressScale = 0;
  // A device named by path on the command line (POSIX); shown in the summary instead of the number.
  char portPath[kFileNameMax + 1] = {};
};

extern SessionConfig gConfig;

// The catalogue row of the chosen model; only valid once a model is chosen.
const ModelEntry& ChosenModel();

}  // namespace talven
