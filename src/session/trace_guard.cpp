#include "session/trace_guard.h"

#include <cstdio>

#include "clone/received_file.h"
#include "process/exit_path.h"
#include "trace/wire_trace.h"

namespace talven {

bool RefuseTraceOnSessionFile(WireTrace& trace, const char* fileName, bool receiving) {
  ReceivedNames names;
  const char* own[] = {fileName, nullptr, nullptr, nullptr};
  if (receiving && NamesOfReceivedFile(fileName, names)) {
    own[1] = names.target;
    own[2] = names.partial;
    own[3] = names.aside;
  }
  for (const char* name : own) {
    if (name == nullptr || !trace.IsFile(name)) continue;
    char reason[2 * kPathMax];
    std::snprintf(reason, sizeof reason, "is this session's own %s; give the trace another name",
                  name);
    ReportError(trace.path(), reason);
    trace.Abandon();
    return true;
  }
  return false;
}

}  // namespace talven
