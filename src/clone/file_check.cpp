#include "clone/file_check.h"

#include <algorithm>
#include <cstdio>

#include "clone/record.h"
#include "clone/record_check.h"
#include "clone/record_diff.h"
#include "clone/record_reader.h"

namespace talven {

void FileCheck::AddRecord(const char* text, std::uint64_t line, std::uint32_t piece) {
  if (piece == 0) {
    CloseLine();
    openLine_ = line;
    openPieces_ = 0;
    openFault_[0] = '\0';
    const RecordCheck check = CheckRecord(text);
    if (check.fault != RecordFault::kNone) FormatRecordFault(check, openFault_, sizeof openFault_);
  }
  ++openPieces_;
  ++records_;
  // The master sums every record it sends, repeated keys included.
  sessionSum_ = static_cast<std::uint16_t>(sessionSum_ + ChecksumFieldValue(text));
  keys_.push_back(DigestRecord(text).key);
}

void FileCheck::CloseLine() {
  if (openPieces_ == 0) return;
  char text[160];
  if (openPieces_ > 1) {
    // A note only: the pieces are what a transfer sends, but not what the file says.
    std::snprintf(text, sizeof text,
                  "note: a transfer sends this line as %u records of at most %zu characters",
                  unsigned{openPieces_}, kSentRecordMax);
    Report(openLine_, text);
  } else if (openFault_[0] != '\0') {
    ++bad_;
    Report(openLine_, openFault_);
  }
  openPieces_ = 0;
}

void FileCheck::NoteEndMark(std::uint64_t line, std::uint64_t bytesAfter) {
  CloseLine();
  if (bytesAfter == 0) return;
  char text[160];
  std::snprintf(text, sizeof text,
                "note: 0x1A ends the file here; the %llu bytes after it are not read",
                static_cast<unsigned long long>(bytesAfter));
  Report(line, text);
}

void FileCheck::Finish() {
  CloseLine();
  std::sort(keys_.begin(), keys_.end());
  distinctKeys_ =
      static_cast<std::uint64_t>(std::unique(keys_.begin(), keys_.end()) - keys_.begin());
  keys_.clear();
  keys_.shrink_to_fit();
}

void FileCheck::Report(std::uint64_t line, const char* text) {
  if (messages_.size() >= kShownMessages) {
    ++unshown_;
    return;
  }
  messages_.push_back("line " + std::to_string(line) + ": " + text);
}

}  // namespace talven
