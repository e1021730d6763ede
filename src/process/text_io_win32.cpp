#include <io.h>
#include <windows.h>
// After windows.h, which shellapi.h builds on.
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "process/text_io.h"
#include "text/utf8.h"

namespace talven {

namespace {

HANDLE HandleOf(std::FILE* stream) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// A line read from the console, handed out byte by byte.
struct ConsoleLine {
  std::string bytes;
  std::size_t next = 0;
};
ConsoleLine gLine;

// One line typed at the console as UTF-8 with CR LF made LF; false at the end of input (Ctrl+Z
// typed first on a line) or when the read fails (Ctrl+C ends it with nothing).
bool ReadConsoleLine(HANDLE in) {
  std::u16string typed;
  for (;;) {
    wchar_t buffer[512];
    DWORD got = 0;
    if (!ReadConsoleW(in, buffer, static_cast<DWORD>(std::size(buffer)), &got, nullptr) ||
        got == 0) {
      if (!typed.empty()) break;
      return false;
    }
    typed.append(buffer, buffer + got);
    if (typed.back() == u'\n') break;
  }
  if (typed.front() == u'\x1a') return false;
  if (typed.size() >= 2 && typed[typed.size() - 2] == u'\r' && typed.back() == u'\n') {
    typed.erase(typed.size() - 2, 1);
  }
  gLine = {Utf8FromUtf16(typed), 0};
  return true;
}

}  // namespace

void PrintText(std::FILE* stream, const char* text) {
  const HANDLE handle = HandleOf(stream);
  if (IsConsole(handle)) {
    if (const auto wide = Utf16FromUtf8(text)) {
      std::fflush(stream);
      const auto* units = reinterpret_cast<const wchar_t*>(wide->data());
      DWORD left = static_cast<DWORD>(wide->size());
      while (left > 0) {
        DWORD written = 0;
        if (!WriteConsoleW(handle, units, left, &written, nullptr) || written == 0) break;
        units += written;
        left -= written;
      }
      return;
    }
  }
  std::fputs(text, stream);
}

int ReadInputChar() {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (!IsConsole(in)) return std::fgetc(stdin);
  while (gLine.next >= gLine.bytes.size()) {
    if (!ReadConsoleLine(in)) return EOF;
  }
  return static_cast<unsigned char>(gLine.bytes[gLine.next++]);
}

void UngetInputChar(int c) {
  if (gLine.next > 0 && IsConsole(GetStdHandle(STD_INPUT_HANDLE))) {
    --gLine.next;
    return;
  }
  std::ungetc(c, stdin);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    const std::wstring_view argument(wide[i]);
    arguments.push_back(Utf8FromUtf16(std::u16string(argument.begin(), argument.end())));
  }
  LocalFree(wide);
  return arguments;
}

}  // namespace talven
