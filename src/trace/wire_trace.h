// The floor of the wire trace, below the serial link that feeds it; it includes nothing of the
// program's own.
//
// "--trace FILE": a record of every byte on the wire in both directions, with times, for diagnosing
// a clone that fails. A session's port registry hands over every read and write that moved bytes;
// each record is flushed as it is written, so the file is complete however the process ends.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

namespace talven {

enum class WireDirection { kToScanner, kFromScanner };

class WireTrace {
 public:
  WireTrace() = default;
  ~WireTrace() { Stop(); }
  WireTrace(const WireTrace&) = delete;
  WireTrace& operator=(const WireTrace&) = delete;

  // Starts a trace into the file at path: a new file, or an earlier trace or an empty file
  // replaced. False, with errno as the open left it, when the file cannot be read or created; with
  // EEXIST when a file that holds something other than a trace is there. A trace already running
  // is stopped first.
  bool Start(const char* path);
  void Stop();

  // Both do nothing while no trace runs.
  void TraceBytes(WireDirection direction, const void* bytes, std::size_t count);
  void TraceNote(const char* text);  // an event that is not a byte, such as the port opening

 private:
  void Write(const std::string& record);

  std::FILE* file_ = nullptr;
  std::chrono::steady_clock::time_point start_;
};

// When a record was taken: the local time of day, and the time since the trace began.
struct WireStamp {
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  long long elapsedMicroseconds = 0;
};

// One record: a line with the stamp, the direction, the count and the bytes as text (printable
// ASCII as is, everything else and "<" in angle brackets: <CR>, <LF>, <1A>), then the bytes in hex,
// 16 to a line, under the text.
std::string FormatWireRecord(const WireStamp& stamp, WireDirection direction,
                             const unsigned char* bytes, std::size_t count);
std::string FormatWireNote(const WireStamp& stamp, const char* text);

}  // namespace talven
