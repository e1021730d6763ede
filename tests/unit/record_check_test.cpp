#include "clone/record_check.h"

#include <gtest/gtest.h>

#include <string>

#include "clone/file_check.h"
#include "clone/record.h"

namespace talven {
namespace {

struct CheckCase {
  std::string record;
  std::string reason;  // empty for a valid record
};

class RecordRule : public ::testing::TestWithParam<CheckCase> {};

// The reason is shown exactly when the slave would answer "NG".
TEST_P(RecordRule, ReasonAgreesWithTheSlave) {
  const RecordCheck check = CheckRecord(GetParam().record.c_str());
  char reason[80] = {};
  if (check.fault != RecordFault::kNone) FormatRecordFault(check, reason, sizeof reason);
  EXPECT_EQ(reason, GetParam().reason);
  EXPECT_EQ(RecordChecksumValid(GetParam().record.c_str()), GetParam().reason.empty() ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Records, RecordRule,
    ::testing::Values(CheckCase{"abc~0223", ""}, CheckCase{"abc~0223ff", ""},
                      CheckCase{"abc~0224", "checksum 0224 does not match its record (0223)"},
                      CheckCase{"abc~zz", "checksum 0000 does not match its record (0223)"},
                      CheckCase{"\xB0~00ad", ""}, CheckCase{"abc", "no \"~\" checksum field"},
                      CheckCase{"", "no \"~\" checksum field"}));

TEST(FileCheck, CutLinesAreNotesAndMessagesStopAtTheLimit) {
  FileCheck check;
  check.AddRecord("01,a~0000", 1, 0);  // not valid
  check.AddRecord("02,long", 2, 0);    // a cut line: judged as a whole by its note only
  check.AddRecord("tail~0000", 2, 1);
  check.AddRecord("01,a~01EB", 3, 0);  // valid, key repeated
  check.NoteEndMark(4, 0);
  check.Finish();
  EXPECT_EQ(
      check.messages(),
      (std::vector<std::string>{
          "line 1: checksum 0000 does not match its record (01EB)",
          "line 2: note: a transfer sends this line as 2 records of at most 4091 characters"}));
  EXPECT_EQ(check.records(), 4U);
  EXPECT_EQ(check.bad(), 1U);
  EXPECT_EQ(check.distinctKeys(), 3U);
  EXPECT_EQ(check.sessionSum(), 0x01EB);
  EXPECT_FALSE(check.passed());

  FileCheck many;
  for (std::uint64_t line = 1; line <= 150; ++line) many.AddRecord("x~0000", line, 0);
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
