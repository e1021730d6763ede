#include "clone/record_reader.h"

#include <climits>
#include <cstring>

#include "clone/clone_file.h"
#include "clone/record.h"

namespace talven {

bool RecordReader::Next() {
  const std::uint64_t start = consumed_;
  const std::size_t length = ReadTextLine(file_, text_, sizeof text_, consumed_);
  if (length == 0) return false;
  offset_ = start;
  if (lineOpen_) {
    ++piece_;
  } else {
    piece_ = 0;
    ++line_;
  }
  lineOpen_ = text_[length - 1] != '\n';
  TrimTrailingNewlines(text_);
  return true;
}

std::uint64_t RecordReader::BytesAfterEndMark(std::uint64_t& markLine) {
  markLine = lineOpen_ ? line_ : line_ + 1;
  if (std::getc(file_) != kEndOfFileMark) return 0;
  std::uint64_t count = 0;
  while (std::getc(file_) != EOF) ++count;
  return count;
}

bool RecordReader::Seek(std::uint64_t offset, std::uint64_t line) {
  if (offset > static_cast<std::uint64_t>(LONG_MAX)) return false;
  if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0) return false;
  consumed_ = offset;
  line_ = line - 1;
  lineOpen_ = false;
  return true;
}

}  // namespace talven
