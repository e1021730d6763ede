// Keys from the console input buffer. The console mode is cleared only while a key is read, all but
// processed input, so Ctrl+C and Ctrl+Break stay a break at every moment.
#include <windows.h>

#include <io.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "process/console.h"
#include "process/console_mode_win32.h"
#include "process/exit_path.h"
#include "process/signals.h"
#include "text/keymap.h"

namespace talven {

namespace {

// Some consoles only deliver input while the program waits on the handle: wait in short slices and
// look for a recorded signal in between.
constexpr DWORD kWaitSliceMs = 100;

// The console as the process holds it.
struct ConsoleState {
  HANDLE in = INVALID_HANDLE_VALUE;
  HANDLE out = INVALID_HANDLE_VALUE;
  bool opened = false;
  DWORD savedMode = 0;
  volatile LONG modeChanged = 0;
  DWORD sessionSavedMode = 0;
  volatile LONG sessionModeChanged = 0;  // QuickEdit taken off for the session
  std::deque<int> pending;               // decoded codes not handed out yet
};
ConsoleState gConsole;

HANDLE OpenDevice(const wchar_t* name) {
  return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

HANDLE Input() {
  if (!gConsole.opened) {
    gConsole.opened = true;
    gConsole.in = OpenDevice(L"CONIN$");
    gConsole.out = OpenDevice(L"CONOUT$");
  }
  return gConsole.in;
}

unsigned Modifiers(DWORD state) {
  unsigned modifiers = 0;
  if ((state & SHIFT_PRESSED) != 0) modifiers |= kShiftHeld;
  if ((state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0) modifiers |= kCtrlHeld;
  if ((state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0) modifiers |= kAltHeld;
  return modifiers;
}

// Releases, modifier keys alone, mouse, focus, menu and window events yield no code.
KeyCodes CodesOf(const INPUT_RECORD& record) {
  if (record.EventType != KEY_EVENT) return {};
  const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
  if (!key.bKeyDown) return {};
  return MapConsoleKey(key.wVirtualKeyCode, static_cast<unsigned char>(key.uChar.AsciiChar),
                       Modifiers(key.dwControlKeyState));
}

void Queue(const INPUT_RECORD& record) {
  const KeyCodes codes = CodesOf(record);
  if (codes.count == 0) return;
  // A held key may come as one event with a repeat count: every press counts.
  const WORD presses =
      record.Event.KeyEvent.wRepeatCount > 0 ? record.Event.KeyEvent.wRepeatCount : 1;
  for (WORD press = 0; press < presses; ++press) {
    for (std::uint8_t i = 0; i < codes.count; ++i) gConsole.pending.push_back(codes.codes[i]);
  }
}

// The mode a key read changed, back as it was.
void RestoreKeyMode() {
  if (gConsole.modeChanged == 0) return;
  gConsole.modeChanged = 0;
  SetConsoleMode(gConsole.in, gConsole.savedMode);
}

enum class Scan { kKey, kNone, kFailed };

// Looks at the queued events without taking keys. Events ahead of the first key that yield nothing
// are dropped, or a wait on the handle would wake for them again and again.
Scan ScanInput(HANDLE in) {
  DWORD count = 0;
  if (!GetNumberOfConsoleInputEvents(in, &count)) return Scan::kFailed;
  if (count == 0) return Scan::kNone;
  std::vector<INPUT_RECORD> records(count);
  DWORD peeked = 0;
  if (!PeekConsoleInputA(in, records.data(), count, &peeked)) return Scan::kFailed;
  DWORD idle = 0;
  while (idle < peeked && CodesOf(records[idle]).count == 0) ++idle;
  if (idle > 0) {
    DWORD dropped = 0;
    if (!ReadConsoleInputA(in, records.data(), idle, &dropped)) return Scan::kFailed;
  }
  return idle < peeked ? Scan::kKey : Scan::kNone;
}

}  // namespace

bool KeyAvailable() {
  if (!gConsole.pending.empty()) return true;
  const HANDLE in = Input();
  if (in == INVALID_HANDLE_VALUE) return false;
  return ScanInput(in) == Scan::kKey;
}

bool WaitForKey() {
  if (!gConsole.pending.empty()) return true;
  const HANDLE in = Input();
  if (in == INVALID_HANDLE_VALUE) return false;
  std::fflush(stdout);  // the prompt must be visible while we wait
  for (;;) {
    switch (ScanInput(in)) {
      case Scan::kKey:
        return true;
      case Scan::kFailed:
        return false;
      case Scan::kNone:
        break;
    }
    if (TakenSignal() != 0) return false;
    if (WaitForSingleObject(in, kWaitSliceMs) == WAIT_FAILED) return false;
  }
}

int ReadKey() {
  if (gConsole.pending.empty()) {
    const HANDLE in = Input();
    DWORD mode = 0;
    if (in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) return -1;
    gConsole.savedMode = mode;
    gConsole.modeChanged = 1;
    // Processed input alone: Ctrl+C stays a break, never a key that answers a wait.
    if (!SetConsoleMode(in, ENABLE_PROCESSED_INPUT)) {
      gConsole.modeChanged = 0;
      return -1;
    }
    while (gConsole.pending.empty()) {
      DWORD count = 0;
      if (!GetNumberOfConsoleInputEvents(in, &count)) break;
      if (count == 0) {
        if (TakenSignal() != 0 || WaitForSingleObject(in, kWaitSliceMs) == WAIT_FAILED) break;
        continue;
      }
      INPUT_RECORD record;
      DWORD read = 0;
      if (!ReadConsoleInputA(in, &record, 1, &read)) break;
      if (read == 1) Queue(record);
    }
    RestoreKeyMode();
    if (gConsole.pending.empty()) return -1;
  }
  const int code = gConsole.pending.front();
  gConsole.pending.pop_front();
  return code;
}

int ReadKeyEcho() {
  const int code = ReadKey();
  if (code < 0) return code;
  std::fflush(stdout);  // the echo goes after what the program printed
  if (gConsole.out != INVALID_HANDLE_VALUE) {
    const char character = static_cast<char>(code);
    DWORD written = 0;
    WriteConsoleA(gConsole.out, &character, 1, &written, nullptr);
  }
  return code;
}

void HoldConsoleForSession() {
  const HANDLE in = Input();
  DWORD mode = 0;
  if (in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) return;
  const SessionConsoleModes modes = ModesForSession(mode);
  if (!modes.change) return;
  gConsole.sessionSavedMode = modes.restore;
  if (SetConsoleMode(in, modes.session)) gConsole.sessionModeChanged = 1;
}

int PauseForKey(const char* prompt) {
  const HANDLE in = Input();
  DWORD mode = 0;
  const HANDLE standardOutput = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
  const bool outputIsConsole =
      standardOutput != INVALID_HANDLE_VALUE && GetConsoleMode(standardOutput, &mode) != 0;
  switch (PlaceForPrompt(in != INVALID_HANDLE_VALUE && GetConsoleMode(in, &mode) != 0,
                         outputIsConsole)) {
    case PromptPlace::kNone:
      return -1;
    case PromptPlace::kStandardOutput:
      std::printf("%s", prompt);
      std::fflush(stdout);
      break;
    case PromptPlace::kConsole: {
      std::fflush(stdout);
      // The prompt's text is ASCII; the console takes LF alone as a new line.
      const std::wstring text(prompt, prompt + std::strlen(prompt));
      DWORD written = 0;
      WriteConsoleW(gConsole.out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
      break;
    }
  }
  return WaitForKey() ? ReadKeyEcho() : -1;
}

void RestoreConsole() {
  RestoreKeyMode();
  if (gConsole.sessionModeChanged != 0) {
    gConsole.sessionModeChanged = 0;
    SetConsoleMode(gConsole.in, gConsole.sessionSavedMode);
  }
}

}  // namespace talven
