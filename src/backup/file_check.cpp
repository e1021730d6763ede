#include "backup/file_check.h"

#include <algorithm>
#include <cstdio>

#include "records/record.h"
#include "records/record_check.h"
#include "records/record_diff.h"

namespace talven {

void FileCheck::AddRecord(std::string_view text, std::uint64_t line, std::uint32_t piece,
                          bool cut) {
  if (piece > 0) return;
  ++records_;
  const RecordCheck check = CheckRecord(text, cut);
  if (check.fault != RecordFault::kNone) {
    char reason[160];
    FormatRecordFault(check, reason, sizeof reason);
    ++bad_;
    Report(line, reason);
  }
  // The master sums every record it sends, repeated keys included, as it reads the field: of the
  // text before any NUL.
  sessionSum_ = static_cast<std::uint16_t>(sessionSum_ + ChecksumFieldValue(text.data()));
  keys_.push_back(DigestRecord(text).key);
}

void FileCheck::NoteEndMark(std::uint64_t line, std::uint64_t bytesAfter) {
  if (bytesAfter == 0) return;
  char text[160];
  std::snprintf(text, sizeof text,
                "note: 0x1A ends the file here; the %llu bytes after it are not read",
                static_cast<unsigned long long>(bytesAfter));
  Report(line, text);
}

void FileCheck::Finish() {
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
