#include "trace/wire_trace.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

#include "names/file_system.h"
#include "process/exit_path.h"
#include "storage/durable_file.h"
#include "storage/held_file.h"

namespace talven {
namespace {

using SteadyClock = std::chrono::steady_clock;
using SystemClock = std::chrono::system_clock;

constexpr std::size_t kHexPerLine = 16;

std::tm LocalTime(std::time_t seconds) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  return local;
}

constexpr char kTraceFirstLine[] = "# talven wire trace, started ";

// A trace never empties a file it did not write: an earlier trace, known by its first line, or an
// empty file is replaced; any other file that is there is left alone (EEXIST). false with errno as
// the read left it when the file cannot be read.
bool MayWriteTraceTo(const HeldFile& held) {
  if (held.created()) return true;
  char first[sizeof kTraceFirstLine] = {};
  std::size_t got = 0;
  if (!held.ReadStart(first, sizeof kTraceFirstLine - 1, got)) return false;
  if (got == 0 || (got == sizeof kTraceFirstLine - 1 &&
                   std::memcmp(first, kTraceFirstLine, sizeof kTraceFirstLine - 1) == 0)) {
    return true;
  }
  errno = EEXIST;
  return false;
}

// A UTF-8 name as a path, the same way on every system.
std::filesystem::path PathOf(std::string_view name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

// The same file by name: both made absolute, with no "." or ".." left.
bool SameName(const std::string& a, const char* b) {
  std::error_code error;
  const auto first = std::filesystem::absolute(PathOf(a), error).lexically_normal();
  const auto second = std::filesystem::absolute(PathOf(b), error).lexically_normal();
  return !error && first == second;
}

WireStamp Now(SteadyClock::time_point traceStart) {
  const auto now = SystemClock::now();
  const std::tm local = LocalTime(SystemClock::to_time_t(now));
  WireStamp stamp;
  stamp.hour = local.tm_hour;
  stamp.minute = local.tm_min;
  stamp.second = local.tm_sec;
  stamp.millisecond = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  stamp.elapsedMicroseconds =
      std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - traceStart)
          .count();
  return stamp;
}

std::string StampText(const WireStamp& stamp) {
  char text[64];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d %7lld.%06lld", stamp.hour, stamp.minute,
                stamp.second, stamp.millisecond, stamp.elapsedMicroseconds / 1000000,
                stamp.elapsedMicroseconds % 1000000);
  return text;
}

void AppendShown(std::string& out, unsigned char byte) {
  switch (byte) {
    case '\r':
      out += "<CR>";
      return;
    case '\n':
      out += "<LF>";
      return;
    case '\0':
      out += "<NUL>";
      return;
    default:
      break;
  }
  if (byte >= 0x20 && byte <= 0x7E && byte != '<') {
    out += static_cast<char>(byte);
    return;
  }
  char code[8];
  std::snprintf(code, sizeof code, "<%02X>", byte);
  out += code;
}

}  // namespace

std::string FormatWireRecord(const WireStamp& stamp, WireDirection direction,
                             const unsigned char* bytes, std::size_t count) {
  char heading[96];
  std::snprintf(heading, sizeof heading, "%s  %-7s  %5zu  ", StampText(stamp).c_str(),
                direction == WireDirection::kToScanner ? "PC->SCN" : "SCN->PC", count);
  std::string out = heading;
  // The hex lines start under the text.
  const std::size_t textColumn = out.size();
  for (std::size_t i = 0; i < count; ++i) AppendShown(out, bytes[i]);
  out += '\n';
  for (std::size_t i = 0; i < count; ++i) {
    if (i % kHexPerLine == 0) out.append(textColumn, ' ');
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
    out += hex;
    out += (i % kHexPerLine == kHexPerLine - 1 || i + 1 == count) ? '\n' : ' ';
  }
  return out;
}

std::string FormatWireNote(const WireStamp& stamp, const char* text) {
  return StampText(stamp) + "  -- " + text + "\n";
}

bool WireTrace::Hold(const char* path) {
  Stop();
  const FileKind kind = KindOf(path);
  path_ = path;
  if (kind != FileKind::kMissing && kind != FileKind::kRegular) {
    // A device or a pipe is written to; there is nothing in it to keep.
    file_ = OpenFile(path, "w");
    pending_ = file_ != nullptr;
    return pending_;
  }
  // A link is followed on purpose: the trace goes to the file it names.
  char target[4200];
  if (!ResolveLinks(path, target, sizeof target)) return false;
  resolved_ = target;
  if (!held_.Open(target, OpenRule::kNewOrExisting)) return false;
  if (!MayWriteTraceTo(held_)) {
    const int refused = errno;
    held_.Close();
    errno = refused;
    return false;
  }
  pending_ = true;
  return true;
}

bool WireTrace::IsFile(const char* path) const {
  if (!pending_ && file_ == nullptr) return false;
  return SameName(path_, path) || (!resolved_.empty() && SameName(resolved_, path)) ||
         held_.IsAt(path);
}

void WireTrace::Abandon() {
  if (held_.IsOpen() && held_.created()) {
    held_.Remove();
  } else {
    held_.Close();
  }
  pending_ = false;
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

bool WireTrace::Begin() {
  pending_ = false;
  if (held_.IsOpen()) {
    if (!held_.Empty() || (file_ = held_.ReleaseAsStream()) == nullptr) {
      // The session goes on without it, and says so.
      char reason[128];
      std::snprintf(reason, sizeof reason, "the trace could not be begun (%s)",
                    FileErrorText(errno != 0 ? errno : EIO));
      ReportError(path_.c_str(), reason);
      held_.Close();
      return false;
    }
  }
  start_ = SteadyClock::now();
  const std::tm local = LocalTime(SystemClock::to_time_t(SystemClock::now()));
  char started[64];
  std::strftime(started, sizeof started, "%Y-%m-%d %H:%M:%S", &local);
  std::fprintf(file_,
               "%s%s\n"
               "# local time, seconds since the start, direction, byte count, the bytes as text\n"
               "# (printable ASCII as is, others and \"<\" as <CR>, <LF>, <NUL> or <hex>), then "
               "in hex\n",
               kTraceFirstLine, started);
  std::fflush(file_);
  return true;
}

void WireTrace::Stop() {
  held_.Close();
  pending_ = false;
  if (file_ == nullptr) return;
  std::fclose(file_);
  file_ = nullptr;
}

void WireTrace::Write(const std::string& record) {
  std::fputs(record.c_str(), file_);
  std::fflush(file_);
}

void WireTrace::TraceBytes(WireDirection direction, const void* bytes, std::size_t count) {
  if (pending_) Begin();
  if (file_ == nullptr || count == 0) return;
  Write(FormatWireRecord(Now(start_), direction, static_cast<const unsigned char*>(bytes), count));
}

void WireTrace::TraceNote(const char* text) {
  if (pending_) Begin();
  if (file_ == nullptr) return;
  Write(FormatWireNote(Now(start_), text));
}

}  // namespace talven
