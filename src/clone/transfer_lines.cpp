#include "clone/transfer_lines.h"

namespace talven {

char gReceiveLineBuffer[kLineBufferSize];
char gTransmitLineBuffer[kLineBufferSize];

ReceivedCommand ReceiveCommand(char* line) {
  const std::size_t length = ReceiveLine(line);
  if (length < 4) line[4] = '\0';
  line[3] = '\0';
  return {line, line + 4};
}

}  // namespace talven
