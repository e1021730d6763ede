#include "records/record_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "backup/backup_commands.h"
#include "backup/file_check.h"
#include "records/clone_check.h"
#include "records/record.h"

namespace talven {
namespace {

// A record of the given length whose checksum field fits its body.
std::string ValidRecord(std::size_t length) {
  std::string body = "01," + std::string(length - 8, 'x');
  char field[8];
  std::snprintf(field, sizeof field, "~%04X", unsigned{BodyChecksum(body)});
  return body + field;
}

struct CheckCase {
  std::string line;    // one line of a clone file, without its line end
  std::string reason;  // empty for a valid record
};

class RecordRule : public ::testing::TestWithParam<CheckCase> {};

// The rule itself, the check before sending and --check give the same verdict with the same
// reason; a record that passes is one the slave takes.
TEST_P(RecordRule, OneVerdictForEveryCheck) {
  const CheckCase& c = GetParam();
  std::string read = c.line;  // as a reader gives it: every CR dropped
  read.erase(std::remove(read.begin(), read.end(), '\r'), read.end());
  const RecordCheck check = CheckRecord(read);
  char reason[160] = {};
  if (check.fault != RecordFault::kNone) FormatRecordFault(check, reason, sizeof reason);
  EXPECT_EQ(reason, c.reason);
  if (c.reason.empty()) {
    EXPECT_EQ(RecordChecksumValid(read.c_str()), 1);
  }

  for (const char* end : {"\n", "\r\n", ""}) {
    const std::string text = c.line + end;
    if (text.empty()) continue;  // a file without a line holds no record
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    const CloneFileCheck before = CheckCloneFile(file);
    EXPECT_EQ(before.records, 1U);
    EXPECT_EQ(before.faultCount, c.reason.empty() ? 0U : 1U);
    EXPECT_EQ(before.faults[0].reason, c.reason);

    std::rewind(file);
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ReadFailure failure;
    EXPECT_EQ(ReportCloneFileCheck("f", file, out, failure),
              c.reason.empty() ? kFilesAgree : kFilesDisagree);
    std::rewind(out);
    char first[256] = {};
    ASSERT_NE(std::fgets(first, sizeof first, out), nullptr);
    if (c.reason.empty()) {
      EXPECT_EQ(std::string(first).rfind("f: 1 record", 0), 0U) << first;
    } else {
      EXPECT_EQ(first, "f line 1: " + c.reason + "\n");
    }
    std::fclose(out);
    std::fclose(file);
  }
}

const std::string kTooLong = "longer than 4091 characters";
const std::string kBadField = "\" follows the checksum field; a record ends with its four digits";

INSTANTIATE_TEST_SUITE_P(
    Records, RecordRule,
    ::testing::Values(
        CheckCase{"abc~0223", ""}, CheckCase{"abc~0223", ""}, CheckCase{"\xB0~00ad", ""},
        CheckCase{ValidRecord(4091), ""}, CheckCase{ValidRecord(4092), kTooLong},
        CheckCase{ValidRecord(10010), kTooLong},
        CheckCase{"abc~0224", "checksum 0224 does not match its record (0223)"},
        CheckCase{"abc~zz", "checksum field \"zz\" is not four hexadecimal digits"},
        CheckCase{"abc~022", "checksum field \"022\" is not four hexadecimal digits"},
        CheckCase{"abc~", "checksum field \"\" is not four hexadecimal digits"},
        CheckCase{"abc~0223ff", "\"ff" + kBadField},
        CheckCase{"abc~0223JUNK", "\"JUNK" + kBadField},
        CheckCase{"abc~02231234", "\"1234" + kBadField}, CheckCase{"abc~0223 ", "\" " + kBadField},
        CheckCase{"abc~0223~0223",
                  "\"~0223\" follows the checksum field (two records on one line: do lines end "
                  "with CR alone?)"},
        CheckCase{"01,a~01EB\r02,b~01ED\r03,c~01EF",
                  "\"02,b~01ED03,c~01...\" follows the checksum field (two records on one "
                  "line: do lines end with CR alone?)"},
        CheckCase{std::string("ab\0c~0223", 9),
                  "a NUL byte at character 3; a transfer sends only the text before it"},
        CheckCase{"abc", "no \"~\" checksum field"}, CheckCase{"", "no \"~\" checksum field"}));

TEST(FileCheck, CutLinesAreOneFaultAndMessagesStopAtTheLimit) {
  FileCheck check;
  check.AddRecord("01,a~0000", 1, 0, false);  // not valid
  check.AddRecord("02,long", 2, 0, true);     // a cut line: judged as a whole
  check.AddRecord("tail~0000", 2, 1, false);
  check.AddRecord("01,a~01EB", 3, 0, false);  // valid, key repeated
  check.NoteEndMark(4, 0);
  check.Finish();
  EXPECT_EQ(check.messages(),
            (std::vector<std::string>{"line 1: checksum 0000 does not match its record (01EB)",
                                      "line 2: longer than 4091 characters"}));
  EXPECT_EQ(check.records(), 3U);
  EXPECT_EQ(check.bad(), 2U);
  EXPECT_EQ(check.distinctKeys(), 2U);
  EXPECT_EQ(check.sessionSum(), 0x01EB);
  EXPECT_FALSE(check.passed());

  FileCheck many;
  for (std::uint64_t line = 1; line <= 150; ++line) many.AddRecord("x~0000", line, 0, false);
  many.NoteEndMark(151, 3);
  many.Finish();
  EXPECT_EQ(many.messages().size(), FileCheck::kShownMessages);
  EXPECT_EQ(many.unshownMessages(), 51U);
  EXPECT_EQ(many.bad(), 150U);

  FileCheck empty;
  empty.Finish();
  EXPECT_FALSE(empty.passed());
}

}  // namespace
}  // namespace talven
