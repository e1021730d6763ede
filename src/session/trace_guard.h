// A wire trace never stands in for one of the session's own files.
#pragma once

namespace talven {

class WireTrace;

// Exit status of a session refused at setup for its command line, as main uses for options.
inline constexpr int kTraceRefusedStatus = 2;

// Whether the trace is the clone file named, or for Slave mode (receiving) the file it replaces,
// its partial file or the name an earlier partial file is moved to, by name or by identity. When
// it is, says so on standard error and gives the trace up (a trace file just made is removed, any
// other left as it was).
bool RefuseTraceOnSessionFile(WireTrace& trace, const char* fileName, bool receiving);

}  // namespace talven
