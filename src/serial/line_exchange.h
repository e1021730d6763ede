// CR-terminated command lines on one port of a session: one send and two receives that wait
// differently but take the bytes in the order they arrived, from the one receive buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "process/port_number.h"

namespace talven {

class PortRegistry;

inline constexpr std::size_t kLineBufferSize = 4096;
inline constexpr char kCR = '\r';

// How a receive ended. The line exchange never ends the process: the caller decides.
enum class LineResult {
  kOk,
  kNoReply,      // ReceiveReply: a byte did not come within its attempts
  kPortFailed,   // the device failed under the port (unplugged, hung up): waiting would never end
  kInterrupted,  // a signal arrived; the caller returns and the session ends
};

// Why a receive ended in kPortFailed, worded for users.
inline constexpr const char* kPortStoppedText =
    "the serial device stopped working (unplugged or hung up)";

class LineExchange {
 public:
  // The port must stay open in ports for as long as lines are exchanged.
  LineExchange(PortRegistry& ports, PortNumber port) : ports_(ports), port_(port) {}
  LineExchange(const LineExchange&) = delete;
  LineExchange& operator=(const LineExchange&) = delete;

  // Sends the text followed by CR; answers the count written.
  std::int32_t SendCommand(const char* text);

  // Next received byte, refilling the receive buffer from the port and waiting without limit.
  LineResult NextReceivedByte(unsigned char& byte);

  // One line up to its CR, stored NUL-terminated without the CR; waits without limit. A line
  // longer than the destination is cut at kLineBufferSize - 1 bytes and the rest up to the CR
  // dropped. length: the stored bytes before the terminator, NULs inside the line included (on a
  // failure, what came before it).
  LineResult ReceiveLine(char* destination, std::size_t& length);

  // A reply taken byte by byte with up to 10 attempts per byte, each waiting up to the port's read
  // time-out: kOk when the line ended with CR, kNoReply when a byte did not come.
  LineResult ReceiveReply(char* destination);

  // Called with its object once each time a receive may block for want of input (nullptr:
  // nothing).
  void SetBeforeWait(void (*beforeWait)(void*), void* object) {
    beforeWait_ = beforeWait;
    beforeWaitObject_ = object;
  }

 private:
  LineResult PortHealth() const;
  LineResult RefillReceiveBuffer();
  bool TakeReplyByte(unsigned char& byte);

  PortRegistry& ports_;
  PortNumber port_;
  void (*beforeWait_)(void*) = nullptr;
  void* beforeWaitObject_ = nullptr;
  char sendBuffer_[kLineBufferSize];
  unsigned char receiveBuffer_[kLineBufferSize];
  std::uint16_t readPosition_ = 0;
  std::uint16_t fillCount_ = 0;
};

}  // namespace talven
