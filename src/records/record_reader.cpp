#include "records/record_reader.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "records/clone_file.h"
#include "records/record.h"

namespace talven {

bool RecordReader::Next() {
  const std::uint64_t start = consumed_;
  std::size_t length = ReadTextLine(file_, text_, sizeof text_, consumed_);
  if (length == 0) return false;
  offset_ = start;
  if (lineOpen_) {
    ++piece_;
  } else {
    piece_ = 0;
    ++line_;
  }
  // A full read without the line end: its last character begins the next record, so that no
  // record is longer than the line buffer that carries it.
  cut_ = length == sizeof text_ - 1 && text_[length - 1] != '\n';
  if (cut_) {
    std::ungetc(static_cast<unsigned char>(text_[--length]), file_);
    --consumed_;
  }
  lineOpen_ = text_[length - 1] != '\n';
  length_ = TrimTrailingNewlines(text_, length);
  return true;
}

std::uint64_t RecordReader::BytesAfterEndMark(std::uint64_t& markLine) {
  markLine = lineOpen_ ? line_ : line_ + 1;
  atConsumed_ = false;
  if (std::getc(file_) != kEndOfFileMark) return 0;
  std::uint64_t count = 0;
  while (std::getc(file_) != EOF) ++count;
  return count;
}

bool RecordReader::Seek(std::uint64_t offset, std::uint64_t line) {
  // A record a little ahead is reached by reading on: a seek would drop what the stream has
  // buffered and cost a call to the system each time.
  constexpr std::uint64_t kReadOnLimit = 1U << 20;
  if (atConsumed_ && offset >= consumed_ && offset - consumed_ <= kReadOnLimit) {
    char skipped[4096];
    while (consumed_ < offset) {
      const std::size_t wanted =
          static_cast<std::size_t>(std::min<std::uint64_t>(sizeof skipped, offset - consumed_));
      const std::size_t got = std::fread(skipped, 1, wanted, file_);
      if (got == 0) return false;
      consumed_ += got;
    }
  } else {
    if (offset > static_cast<std::uint64_t>(LONG_MAX)) return false;
    if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0) return false;
    consumed_ = offset;
    atConsumed_ = true;
  }
  line_ = line - 1;
  lineOpen_ = false;
  return true;
}

}  // namespace talven
