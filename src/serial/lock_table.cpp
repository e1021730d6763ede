#include "serial/lock_table.h"

#include <charconv>

namespace talven {
namespace {

std::string_view NextWord(std::string_view& line) {
  const std::size_t start = line.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    line = {};
    return {};
  }
  line.remove_prefix(start);
  const std::size_t end = line.find(' ');
  const std::string_view word = line.substr(0, end);
  line.remove_prefix(end == std::string_view::npos ? line.size() : end);
  return word;
}

template <typename Number>
bool ParseField(std::string_view& text, char end, int base, Number& value) {
  const char* last = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), last, value, base);
  if (error != std::errc{} || stop == text.data()) return false;
  if (end != '\0' && (stop == last || *stop != end)) return false;
  if (end == '\0' && stop != last) return false;
  text.remove_prefix(static_cast<std::size_t>(stop - text.data()) + (end != '\0' ? 1 : 0));
  return true;
}

// "MAJ:MIN:INODE", the device numbers in hex and the inode in decimal.
bool ParseFileField(std::string_view field, LockedFile& file) {
  return ParseField(field, ':', 16, file.major) && ParseField(field, ':', 16, file.minor) &&
         ParseField(field, '\0', 10, file.inode);
}

// "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF"
bool LineHolds(std::string_view line, const LockedFile& file) {
  const std::string_view number = NextWord(line);
  if (number.empty() || number.back() != ':') return false;
  const std::string_view kind = NextWord(line);
  if (kind.empty() || kind == "->") return false;
  NextWord(line);  // ADVISORY or MANDATORY
  NextWord(line);  // READ or WRITE
  NextWord(line);  // the holder's process id
  LockedFile held;
  if (!ParseFileField(NextWord(line), held)) return false;
  return held.major == file.major && held.minor == file.minor && held.inode == file.inode;
}

}  // namespace

bool LockTableHolds(std::string_view table, const LockedFile& file) {
  while (!table.empty()) {
    const std::size_t end = table.find('\n');
    if (LineHolds(table.substr(0, end), file)) return true;
    table.remove_prefix(end == std::string_view::npos ? table.size() : end + 1);
  }
  return false;
}

}  // namespace talven
