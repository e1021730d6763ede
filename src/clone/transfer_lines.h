// The line buffers the transfers share, and the reading of a received line as command and argument.
#pragma once

#include <cstring>

#include "serial/line_exchange.h"

namespace talven {

extern char gReceiveLineBuffer[kLineBufferSize];
extern char gTransmitLineBuffer[kLineBufferSize];

// A received line split at its fourth character: the command word is the first three characters and
// the argument begins at the fifth. A line too short to carry an argument has an empty one, never
// what an earlier, longer line left in the buffer.
struct ReceivedCommand {
  const char* word;
  const char* argument;
  bool Is(const char* name) const { return std::strcmp(word, name) == 0; }
};

ReceivedCommand ReceiveCommand(char* line);

}  // namespace talven
