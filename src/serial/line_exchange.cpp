#include "serial/line_exchange.h"

#include <cstdio>
#include <cstring>

#include "process/config.h"
#include "process/exit_path.h"
#include "serial/port.h"
#include "serial/port_error_exit.h"

namespace talven {

namespace {

inline constexpr int kReplyAttempts = 10;
// How long one wait for input may block before the signal flag is looked at again.
inline constexpr std::int32_t kWaitSliceMs = 250;

char gSendBuffer[kLineBufferSize];

struct ReceiveBuffer {
  unsigned char bytes[kLineBufferSize];
  std::uint16_t readPosition = 0;
  std::uint16_t fillCount = 0;
};
ReceiveBuffer gReceiveBuffer;
void (*gBeforeWait)() = nullptr;

// A port that fails under us (adapter unplugged, line hung up) is not a silent scanner: waiting on
// would never end.
[[noreturn]] void LeaveForFailedPort() {
  LeaveForPortError("the serial device stopped working (unplugged or hung up)");
}

void CheckPortHealth() {
  CheckInterrupt();
  if (PortFailed(gConfig.port)) LeaveForFailedPort();
}

}  // namespace

std::int32_t SendCommand(const char* text) {
  const int length = std::snprintf(gSendBuffer, sizeof gSendBuffer, "%s\r", text);
  // A text too long for the buffer goes out cut, still ended by its CR.
  std::int32_t count = length < 0 ? 0 : static_cast<std::int32_t>(length);
  if (count > static_cast<std::int32_t>(sizeof gSendBuffer) - 1) {
    count = static_cast<std::int32_t>(sizeof gSendBuffer);
    gSendBuffer[count - 1] = kCR;
  }
  return WriteBytes(gConfig.port, gSendBuffer, count);
}

namespace {

// Refills the empty receive buffer with everything waiting. While nothing is, it waits in the OS
// for up to one slice (a byte arriving ends the wait) and tries once more.
void RefillReceiveBuffer() {
  ReceiveBuffer& buffer = gReceiveBuffer;
  buffer.readPosition = 0;
  buffer.fillCount = 0;
  std::int32_t count = ReadWaitingBytes(gConfig.port, buffer.bytes, sizeof buffer.bytes);
  bool waited = false;
  while (count == 0) {
    CheckPortHealth();
    if (!waited && gBeforeWait != nullptr) gBeforeWait();
    waited = true;
    if (WaitForInput(gConfig.port, kWaitSliceMs) == PortWait::kFailed) LeaveForFailedPort();
    count = ReadWaitingBytes(gConfig.port, buffer.bytes, sizeof buffer.bytes);
  }
  buffer.fillCount = static_cast<std::uint16_t>(count);
}

// One attempt at a reply's next byte: from the buffer, else a read of one byte under the port's
// read time-out followed by whatever came with it.
bool TakeReplyByte(unsigned char& byte) {
  ReceiveBuffer& buffer = gReceiveBuffer;
  if (buffer.readPosition >= buffer.fillCount) {
    buffer.readPosition = 0;
    buffer.fillCount = 0;
    if (gBeforeWait != nullptr) gBeforeWait();
    if (ReadBytes(gConfig.port, buffer.bytes, 1) != 1) return false;
    buffer.fillCount = static_cast<std::uint16_t>(
        1 + ReadWaitingBytes(gConfig.port, buffer.bytes + 1, sizeof buffer.bytes - 1));
  }
  byte = buffer.bytes[buffer.readPosition++];
  return true;
}

}  // namespace

unsigned char NextReceivedByte() {
  ReceiveBuffer& buffer = gReceiveBuffer;
  while (buffer.readPosition >= buffer.fillCount) RefillReceiveBuffer();
  return buffer.bytes[buffer.readPosition++];
}

std::size_t ReceiveLine(char* destination) {
  std::size_t length = 0;
  for (;;) {
    const unsigned char byte = NextReceivedByte();
    if (byte == kCR) break;
    if (length < kLineBufferSize - 1) destination[length++] = static_cast<char>(byte);
  }
  destination[length] = '\0';
  return length;
}

std::int32_t ReceiveReply(char* destination) {
  std::size_t length = 0;
  for (;;) {
    unsigned char byte = 0;
    int attempt = 0;
    for (; attempt < kReplyAttempts; ++attempt) {
      if (TakeReplyByte(byte)) break;
      CheckPortHealth();
    }
    if (attempt == kReplyAttempts) {
      destination[length] = '\0';
      return -1;
    }
    if (byte == kCR) {
      destination[length] = '\0';
      return 0;
    }
    if (length < kLineBufferSize - 1) destination[length++] = static_cast<char>(byte);
  }
}

void SetBeforeWait(void (*beforeWait)()) {
  gBeforeWait = beforeWait;
}

void ResetReceiveBuffer() {
  gReceiveBuffer.readPosition = 0;
  gReceiveBuffer.fillCount = 0;
}

}  // namespace talven
