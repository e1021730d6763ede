// What a check of a whole clone file finds: each record judged by the record rule, the notes on
// what a transfer would do differently from the file's text, and the figures of the summary.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talven {

class FileCheck {
 public:
  static constexpr std::size_t kShownMessages = 100;

  // Each record as RecordReader yields it, in file order, with the NUL that ends it after the
  // text; the rest of a line that was cut is judged with its first record.
  void AddRecord(std::string_view text, std::uint64_t line, std::uint32_t piece, bool cut);
  // Text after the 0x1A mark is never read by a transfer.
  void NoteEndMark(std::uint64_t line, std::uint64_t bytesAfter);
  // Call once, after the last record.
  void Finish();

  bool passed() const { return bad_ == 0 && records_ > 0; }
  std::uint64_t records() const { return records_; }
  std::uint64_t bad() const { return bad_; }
  std::uint64_t distinctKeys() const { return distinctKeys_; }
  std::uint16_t sessionSum() const { return sessionSum_; }
  // "line 3: ..." for each problem and note, in line order, the first kShownMessages of them.
  const std::vector<std::string>& messages() const { return messages_; }
  std::uint64_t unshownMessages() const { return unshown_; }

 private:
  void Report(std::uint64_t line, const char* text);

  std::uint64_t records_ = 0;
  std::uint64_t bad_ = 0;
  std::uint64_t distinctKeys_ = 0;
  std::uint16_t sessionSum_ = 0;
  std::vector<std::uint64_t> keys_;
  std::vector<std::string> messages_;
  std::uint64_t unshown_ = 0;
};

}  // namespace talven
