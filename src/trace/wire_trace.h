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

#include "storage/held_file.h"

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
  // EEXIST when a file that holds something other than a trace is there, EBUSY when another
  // session holds it. A trace already running is stopped first.
  bool Start(const char* path) { return Hold(path) && Begin(); }
  // As Start, but the file is only taken and held, not yet changed: it is emptied and begun by the
  // first record, once the session knows that the trace is none of its own files.
  bool Hold(const char* path);
  // Whether the trace held or running is the file at path, by name or (for a file held and not yet
  // begun) by identity.
  bool IsFile(const char* path) const;
  // Gives up a trace held and not begun: a file Hold made is removed, any other left as it was.
  void Abandon();
  const char* path() const { return path_.c_str(); }
  void Stop();

  // Both do nothing while no trace runs.
  void TraceBytes(WireDirection direction, const void* bytes, std::size_t count);
  void TraceNote(const char* text);  // an event that is not a byte, such as the port opening

 private:
  bool Begin();
  void Write(const std::string& record);

  HeldFile held_;  // the file, from Hold until the trace begins
  bool pending_ = false;
  std::string path_;
  std::string resolved_;  // path with its links followed
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
