#include "records.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace simscanner {

namespace {

constexpr char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ,.-/";
constexpr std::size_t kAlphabetSize = sizeof kAlphabet - 1;
// 0xA0..0xFE: bytes that count negative in the checksum, none of them a line or file end.
constexpr std::size_t kHighByteCount = 0xFF - 0xA0;

std::uint64_t SplitMix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

bool Harmless(unsigned char c) {
  return c != '~' && c != '\r' && c != '\n' && c != 0x1A && c != 0;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

// Worked out here rather than taken from the program under test, so that a fault there shows.
std::uint16_t BodyChecksum(std::string_view body) {
  std::uint32_t sum = 253;
  for (const char c : body) sum += static_cast<std::uint32_t>(static_cast<signed char>(c));
  return static_cast<std::uint16_t>(sum);
}

std::optional<std::uint32_t> ParseHex(std::string_view text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return value;
}

std::optional<std::uint16_t> ChecksumField(std::string_view record) {
  const std::size_t tilde = record.find('~');
  if (tilde == std::string_view::npos || record.size() < tilde + 5) return std::nullopt;
  const std::optional<std::uint32_t> value = ParseHex(record.substr(tilde + 1, 4));
  if (!value) return std::nullopt;
  return static_cast<std::uint16_t>(*value);
}

bool RecordValid(std::string_view record) {
  const std::optional<std::uint16_t> field = ChecksumField(record);
  return field && *field == BodyChecksum(record.substr(0, record.find('~')));
}

std::string MakeRecord(std::string_view body) {
  char field[8];
  std::snprintf(field, sizeof field, "~%04X", unsigned{BodyChecksum(body)});
  return std::string(body) + field;
}

std::string CorruptCopy(const std::string& record) {
  std::string copy = record;
  // Damage the last body byte; a record without body gets one that its field does not cover.
  std::size_t at = copy.find('~');
  if (at == std::string::npos) at = copy.size();
  if (at == 0) {
    copy.insert(0, 1, '0');
    return copy;
  }
  --at;
  const unsigned char original = static_cast<unsigned char>(copy[at]);
  unsigned char damaged = original ^ 0x01;
  if (!Harmless(damaged)) damaged = original ^ 0x02;
  if (!Harmless(damaged)) damaged = original ^ 0x04;
  copy[at] = static_cast<char>(damaged);
  return copy;
}

std::uint32_t KeyWidth(std::uint32_t count) {
  std::uint32_t width = 4;
  for (std::uint64_t limit = 0x10000; count > limit; limit <<= 4) ++width;
  return width;
}

RecordSet RecordSet::Generated(std::uint32_t count, std::uint32_t bodyLength, std::uint64_t seed,
                               bool highBytes) {
  RecordSet set;
  set.generated_ = true;
  set.count_ = count;
  set.bodyLength_ = bodyLength;
  set.seed_ = seed;
  set.highBytes_ = highBytes;
  return set;
}

std::string RecordSet::At(std::size_t index) const {
  if (!generated_) return loaded_[index];
  char key[24];
  std::snprintf(key, sizeof key, "%0*zX,", static_cast<int>(KeyWidth(count_)), index);
  std::string body = key;
  // Each record from its own state: any record can be made without the ones before it.
  std::uint64_t state = seed_ * 0x100000001B3ULL + index;
  const std::size_t choices = kAlphabetSize + (highBytes_ ? kHighByteCount : 0);
  while (body.size() < bodyLength_) {
    const std::size_t pick = SplitMix(state) % choices;
    body +=
        pick < kAlphabetSize ? kAlphabet[pick] : static_cast<char>(0xA0 + (pick - kAlphabetSize));
  }
  return MakeRecord(body);
}

// The clone file format, read and written here with code of its own: the checker shares no
// reader or writer with the program it checks. A line ends at LF, every CR is dropped, and a 0x1A
// byte ends the file; a line is written with CR LF, and an LF inside it as CR LF too.
bool RecordSet::Load(const std::string& path, RecordSet& set, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  set = RecordSet{};
  std::string line;
  for (int c = std::getc(file); c != EOF && c != 0x1A; c = std::getc(file)) {
    if (c == '\n') {
      set.loaded_.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line.push_back(static_cast<char>(c));
    }
  }
  if (!line.empty()) set.loaded_.push_back(line);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) error = path + ": read error";
  return !failed;
}

namespace {

template <typename Records>
bool WriteLines(const std::string& path, const Records& records, std::size_t count,
                std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = true;
  for (std::size_t i = 0; ok && i < count; ++i) {
    for (const char c : records(i)) {
      if (c == '\n') std::fputc('\r', file);
      std::fputc(c, file);
    }
    ok = std::fputs("\r\n", file) >= 0 && std::ferror(file) == 0;
  }
  ok = std::fclose(file) == 0 && ok;
  if (!ok) error = path + ": write error";
  return ok;
}

}  // namespace

bool WriteRecordFile(const std::string& path, const std::vector<std::string>& records,
                     std::string& error) {
  return WriteLines(
      path, [&records](std::size_t i) { return records[i]; }, records.size(), error);
}

bool WriteRecordFile(const std::string& path, const RecordSet& records, std::string& error) {
  return WriteLines(
      path, [&records](std::size_t i) { return records.At(i); }, records.size(), error);
}

}  // namespace simscanner
