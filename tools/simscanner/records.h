// The records a simulated scanner sends or keeps: read from a clone file, or generated on demand.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simscanner {

// 253 plus every byte taken as a signed 8-bit value, modulo 65536.
std::uint16_t BodyChecksum(std::string_view body);

// A number written in 1 to 8 hex digits and nothing else.
std::optional<std::uint32_t> ParseHex(std::string_view text);

// The four hex digits after the first "~"; none when they are missing.
std::optional<std::uint16_t> ChecksumField(std::string_view record);

// True when the record's field holds the checksum of its body.
bool RecordValid(std::string_view record);

// "body~CCCC" with the checksum the clone protocol expects.
std::string MakeRecord(std::string_view body);

// The same record with one body byte changed, so that its checksum no longer holds.
std::string CorruptCopy(const std::string& record);

// Hex digits of the keys of a generated set of that many records (at least four).
std::uint32_t KeyWidth(std::uint32_t count);

// Either the lines of a clone file or a deterministic generated set; generated records are made
// when asked for, so a million of them cost no memory.
class RecordSet {
 public:
  static RecordSet Generated(std::uint32_t count, std::uint32_t bodyLength, std::uint64_t seed,
                             bool highBytes);
  // False with a reason when the file cannot be read.
  static bool Load(const std::string& path, RecordSet& set, std::string& error);

  std::size_t size() const { return generated_ ? count_ : loaded_.size(); }
  std::string At(std::size_t index) const;

 private:
  std::vector<std::string> loaded_;
  bool generated_ = false;
  std::uint32_t count_ = 0;
  std::uint32_t bodyLength_ = 0;
  std::uint64_t seed_ = 0;
  bool highBytes_ = false;
};

// Write the records as a clone file, each line ended by CR LF.
bool WriteRecordFile(const std::string& path, const std::vector<std::string>& records,
                     std::string& error);
bool WriteRecordFile(const std::string& path, const RecordSet& records, std::string& error);

}  // namespace simscanner
