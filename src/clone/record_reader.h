// A clone file's records as the master transfer reads them, with where each one stands in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace talven {

// A record goes out behind "CLN " in a 4096-byte line: one read takes at most this many
// characters, and a longer line is sent as several records.
inline constexpr std::size_t kSentRecordMax = 4091;

class RecordReader {
 public:
  explicit RecordReader(std::FILE* file) : file_(file) {}

  // The next record, line end removed as a transfer removes it; false at the end of the text.
  bool Next();

  const char* text() const { return text_; }
  std::uint64_t line() const { return line_; }      // 1 for the file's first line
  std::uint64_t offset() const { return offset_; }  // byte offset at which the record begins
  std::uint32_t piece() const { return piece_; }    // 0, or 1, 2, ... for the rest of a cut line

  // After the end: the bytes that stand after a 0x1A end mark (0 without one) and the line of the
  // mark. Reads the rest of the file.
  std::uint64_t BytesAfterEndMark(std::uint64_t& markLine);

  // Repositions to a record at an offset given by offset(); the next Next() yields it.
  bool Seek(std::uint64_t offset, std::uint64_t line);

  bool failed() const { return std::ferror(file_) != 0; }

 private:
  std::FILE* file_;
  char text_[kSentRecordMax + 1] = {};
  std::uint64_t line_ = 0;
  std::uint64_t offset_ = 0;
  std::uint64_t consumed_ = 0;
  std::uint32_t piece_ = 0;
  bool lineOpen_ = false;  // the last read stopped inside a line
};

}  // namespace talven
