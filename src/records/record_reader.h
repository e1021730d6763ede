// A clone file's records as the master transfer reads them, with where each one stands in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "records/record_check.h"

namespace talven {

class RecordReader {
 public:
  explicit RecordReader(std::FILE* file) : file_(file) {}

  // The next record, line end removed as a transfer removes it; false at the end of the text. A
  // read takes a record of kRecordTextMax characters with its line end; a longer line is cut into
  // records of that many characters, as a transfer would send it.
  bool Next();

  const char* text() const { return text_; }
  std::size_t length() const { return length_; }  // NUL bytes in the text included
  std::string_view record() const { return {text_, length_}; }
  // The read stopped at its limit: the line goes on in the next record.
  bool cut() const { return cut_; }
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
  char text_[kRecordTextMax + 2] = {};  // the text, its LF, the terminator
  std::size_t length_ = 0;
  bool cut_ = false;
  std::uint64_t line_ = 0;
  std::uint64_t offset_ = 0;
  std::uint64_t consumed_ = 0;
  std::uint32_t piece_ = 0;
  bool lineOpen_ = false;   // the last read stopped inside a line
  bool atConsumed_ = true;  // the stream stands at consumed_
};

}  // namespace talven
