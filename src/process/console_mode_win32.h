// The console decisions of the Windows build, apart from the calls that carry them out.
#pragma once

#include <windows.h>

namespace talven {

// The input modes for the session and for its end. QuickEdit is taken off for the session only when
// it is on; the mode put back names the extended flags, without which the QuickEdit bit is ignored.
struct SessionConsoleModes {
  bool change = false;
  DWORD session = 0;
  DWORD restore = 0;
};

inline SessionConsoleModes ModesForSession(DWORD saved) {
  if ((saved & ENABLE_QUICK_EDIT_MODE) == 0) return {};
  return {true, (saved | ENABLE_EXTENDED_FLAGS) & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE),
          saved | ENABLE_EXTENDED_FLAGS};
}

// Where the exit prompt goes: to standard output when that is the console, else to the console
// itself when the program has one to read a key from; with no console to answer, nowhere, and
// there is no wait.
enum class PromptPlace { kStandardOutput, kConsole, kNone };

inline PromptPlace PlaceForPrompt(bool consoleInput, bool standardOutputIsConsole) {
  if (!consoleInput) return PromptPlace::kNone;
  return standardOutputIsConsole ? PromptPlace::kStandardOutput : PromptPlace::kConsole;
}

}  // namespace talven
