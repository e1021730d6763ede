// Bytes read from the device ahead of the caller. Small reads (a reply's first byte, a wait that
// had to read to wake up) then cost one system call per burst; to the callers the bytes are still
// in the port's input queue. Private to src/serial and its tests.
#pragma once

#include <cstdint>

namespace talven::detail {

struct ReadAhead {
  unsigned char bytes[4096];
  std::uint16_t position = 0;
  std::uint16_t length = 0;

  std::int32_t Waiting() const { return length - position; }
  // Moves up to room bytes out, oldest first; answers the count.
  std::int32_t Take(unsigned char* out, std::int32_t room);
  // Marks the first count bytes as freshly read (the buffer must have been empty).
  void Filled(std::int32_t count);
  void Clear() { position = length = 0; }
};

// The buffers come from a small pool, so that the table of 257 ports stays small. Null when every
// buffer is taken.
ReadAhead* TakeReadAheadSlot();
void ReleaseReadAheadSlot(const ReadAhead* ahead);

}  // namespace talven::detail
