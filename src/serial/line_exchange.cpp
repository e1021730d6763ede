#include "serial/line_exchange.h"

#include <cstdio>

#include "process/signals.h"
#include "serial/port.h"

namespace talven {

namespace {

inline constexpr int kReplyAttempts = 10;
// How long one wait for input may block before the signal flag is looked at again.
inline constexpr std::int32_t kWaitSliceMs = 250;

}  // namespace

// A port that fails under us (adapter unplugged, line hung up) is not a silent scanner: waiting on
// would never end.
LineResult LineExchange::PortHealth() const {
  if (TakenSignal() != 0) return LineResult::kInterrupted;
  if (ports_.PortFailed(port_)) return LineResult::kPortFailed;
  return LineResult::kOk;
}

std::int32_t LineExchange::SendCommand(const char* text) {
  const int length = std::snprintf(sendBuffer_, sizeof sendBuffer_, "%s\r", text);
  // A text too long for the buffer goes out cut, still ended by its CR.
  std::int32_t count = length < 0 ? 0 : static_cast<std::int32_t>(length);
  if (count > static_cast<std::int32_t>(sizeof sendBuffer_) - 1) {
    count = static_cast<std::int32_t>(sizeof sendBuffer_);
    sendBuffer_[count - 1] = kCR;
  }
  return ports_.WriteBytes(port_, sendBuffer_, count);
}

// Refills the empty receive buffer with everything waiting. While nothing is, it waits in the OS
// for up to one slice (a byte arriving ends the wait) and tries once more.
LineResult LineExchange::RefillReceiveBuffer() {
  readPosition_ = 0;
  fillCount_ = 0;
  std::int32_t count = ports_.ReadWaitingBytes(port_, receiveBuffer_, sizeof receiveBuffer_);
  bool waited = false;
  while (count == 0) {
    if (const LineResult health = PortHealth(); health != LineResult::kOk) return health;
    if (!waited && beforeWait_ != nullptr) beforeWait_(beforeWaitObject_);
    waited = true;
    count = ports_.ReadArrivingBytes(port_, receiveBuffer_, sizeof receiveBuffer_, kWaitSliceMs);
  }
  fillCount_ = static_cast<std::uint16_t>(count);
  return LineResult::kOk;
}

// One attempt at a reply's next byte: from the buffer, else from what has arrived (a reply usually
// has, in one read), else a read of one byte under the port's read time-out followed by whatever
// came with it.
bool LineExchange::TakeReplyByte(unsigned char& byte) {
  if (readPosition_ >= fillCount_) {
    readPosition_ = 0;
    fillCount_ = 0;
    if (beforeWait_ != nullptr) beforeWait_(beforeWaitObject_);
    std::int32_t count = ports_.ReadWaitingBytes(port_, receiveBuffer_, sizeof receiveBuffer_);
    if (count == 0) {
      if (ports_.ReadBytes(port_, receiveBuffer_, 1) != 1) return false;
      count = 1 + ports_.ReadWaitingBytes(port_, receiveBuffer_ + 1, sizeof receiveBuffer_ - 1);
    }
    fillCount_ = static_cast<std::uint16_t>(count);
  }
  byte = receiveBuffer_[readPosition_++];
  return true;
}

LineResult LineExchange::NextReceivedByte(unsigned char& byte) {
  while (readPosition_ >= fillCount_) {
    if (const LineResult result = RefillReceiveBuffer(); result != LineResult::kOk) return result;
  }
  byte = receiveBuffer_[readPosition_++];
  return LineResult::kOk;
}

LineResult LineExchange::ReceiveLine(char* destination, std::size_t& length) {
  length = 0;
  LineResult result = LineResult::kOk;
  for (;;) {
    unsigned char byte = 0;
    result = NextReceivedByte(byte);
    if (result != LineResult::kOk || byte == kCR) break;
    if (length < kLineBufferSize - 1) destination[length++] = static_cast<char>(byte);
  }
  destination[length] = '\0';
  return result;
}

LineResult LineExchange::ReceiveReply(char* destination) {
  std::size_t length = 0;
  for (;;) {
    unsigned char byte = 0;
    int attempt = 0;
    for (; attempt < kReplyAttempts; ++attempt) {
      if (TakeReplyByte(byte)) break;
      if (const LineResult health = PortHealth(); health != LineResult::kOk) {
        destination[length] = '\0';
        return health;
      }
    }
    if (attempt == kReplyAttempts) {
      destination[length] = '\0';
      return LineResult::kNoReply;
    }
    if (byte == kCR) {
      destination[length] = '\0';
      return LineResult::kOk;
    }
    if (length < kLineBufferSize - 1) destination[length++] = static_cast<char>(byte);
  }
}

}  // namespace talven
