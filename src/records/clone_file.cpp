#include "records/clone_file.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "names/file_system.h"
#include "process/exit_path.h"
#include "process/signals.h"

namespace talven {

namespace {

// A byte costs the reader one call; the stream is this thread's alone, so it need not be locked.
inline int NextByte(std::FILE* file) {
#ifdef _WIN32
  return _getc_nolock(file);
#else
  return getc_unlocked(file);
#endif
}

}  // namespace

std::size_t ReadTextLine(std::FILE* file, char* buffer, std::size_t capacity) {
  std::uint64_t consumed = 0;
  return ReadTextLine(file, buffer, capacity, consumed);
}

std::size_t ReadTextLine(std::FILE* file, char* buffer, std::size_t capacity,
                         std::uint64_t& consumed) {
  std::size_t length = 0;
  while (length + 1 < capacity) {
    const int c = NextByte(file);
    if (c == EOF && std::ferror(file) != 0 && errno == EINTR) {
      // A pipe that waits is a wait like any other: a signal ends the read, its error left set.
      if (TakenSignal() != 0) break;
      std::clearerr(file);
      continue;
    }
    if (c == EOF) break;
    if (c == kEndOfFileMark) {
      // Leave the mark in place so that every later read also ends here.
      std::ungetc(c, file);
      break;
    }
    ++consumed;
    if (c == '\r') continue;
    buffer[length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (capacity > 0) buffer[length] = '\0';
  return length;
}

bool WriteText(std::FILE* file, const char* text, std::size_t length) {
  const char* end = text + length;
  while (text < end) {
    const void* found = std::memchr(text, '\n', static_cast<std::size_t>(end - text));
    const char* lf = found ? static_cast<const char*>(found) : end;
    if (lf > text) std::fwrite(text, 1, static_cast<std::size_t>(lf - text), file);
    if (lf == end) break;
    std::fwrite("\r\n", 1, 2, file);
    text = lf + 1;
  }
  return std::ferror(file) == 0;
}

bool WriteText(std::FILE* file, const char* text) {
  return WriteText(file, text, std::strlen(text));
}

std::FILE* OpenTextFile(const char* name, const char* mode) {
  char binaryMode[8];
  std::snprintf(binaryMode, sizeof binaryMode, "%sb", mode);
  return OpenFile(name, binaryMode);
}

bool CountTextLines(const char* name, std::uint16_t& count) {
  count = 0;
  // A device or a pipe is not read ahead: /dev/zero would never end, a pipe would lose its data.
  if (KindOf(name) != FileKind::kRegular) return false;
  std::FILE* file = OpenTextFile(name, "r");
  if (file == nullptr) return false;
  char buffer[4096];
  while (ReadTextLine(file, buffer, sizeof buffer) > 0) ++count;
  std::fclose(file);
  return true;
}

}  // namespace talven
