// CR-terminated command lines on the session's port: one send and two receives that wait
// differently but take the bytes in the order they arrived, from one receive buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talven {

inline constexpr std::size_t kLineBufferSize = 4096;
inline constexpr char kCR = '\r';

// Sends the text followed by CR; answers the count written.
std::int32_t SendCommand(const char* text);

// Next received byte, refilling the receive buffer from the port and waiting without limit.
unsigned char NextReceivedByte();

// One line up to its CR, stored NUL-terminated without the CR; waits without limit. A line longer
// than the destination is cut at kLineBufferSize - 1 bytes and the rest up to the CR dropped.
// Answers the stored length (bytes before the terminator, NULs inside the line included).
std::size_t ReceiveLine(char* destination);

// A reply taken byte by byte with up to 10 attempts per byte, each waiting up to the port's read
// time-out; answers 0 when the line ended with CR, -1 when a byte did not come.
std::int32_t ReceiveReply(char* destination);

// Called once each time a receive may block for want of input (nullptr: nothing).
void SetBeforeWait(void (*beforeWait)());

// Forgets what the receive buffer holds (for tests and a fresh session).
void ResetReceiveBuffer();

}  // namespace talven
