#include "records/record.h"

#include <gtest/gtest.h>

#include <string>

namespace talven {
namespace {

struct ValidityCase {
  std::string record;
  int valid;
};

class RecordValidity : public ::testing::TestWithParam<ValidityCase> {};

TEST_P(RecordValidity, ChecksumOfBodyAgainstField) {
  EXPECT_EQ(RecordChecksumValid(GetParam().record.c_str()), GetParam().valid == 1)
      << GetParam().record;
}

INSTANTIATE_TEST_SUITE_P(
    Records, RecordValidity,
    ::testing::Values(ValidityCase{"abc~0223", 1}, ValidityCase{"abc~0224", 0},
                      ValidityCase{"~00FD", 1}, ValidityCase{"~00fd", 1},
                      ValidityCase{"abc~223", 1},    // fewer digits read as they stand
                      ValidityCase{"abc~02239", 1},  // only four digits are read
                      ValidityCase{"abc~", 0}, ValidityCase{"abc~zz", 0},
                      ValidityCase{"abc", 0},  // no checksum field at all
                      ValidityCase{"", 0},
                      // 0xB0 adds 0xFFB0: 253 + 0xFFB0 = 0x00AD modulo 65536.
                      ValidityCase{"\xB0~00AD", 1}, ValidityCase{"\xB0~01AD", 0},
                      // Only the first "~" separates body and field.
                      ValidityCase{"a~0x", 0}));

TEST(HexValue, LeadingDigitsOfEitherCase) {
  EXPECT_EQ(HexValue("1A2b~0223"), 0x1A2B);
  EXPECT_EQ(HexValue("00001a2b"), 0x1A2B);
  EXPECT_EQ(HexValue("g12"), 0);
  EXPECT_EQ(HexValue(""), 0);
  EXPECT_EQ(HexValue("FFFFFFFF"), -1);
  // Digits beyond the eighth shift the earliest out of the 32 bits.
  EXPECT_EQ(HexValue("123456789"), 0x23456789);
  EXPECT_EQ(HexValue("11a2b"), 0x11A2B);
}

TEST(ChecksumField, ReadsEveryDigitKeepsSixteenBits) {
  EXPECT_EQ(ChecksumFieldValue("abc~0223"), 0x0223);
  EXPECT_EQ(ChecksumFieldValue("abc~ffff"), 0xFFFF);
  EXPECT_EQ(ChecksumFieldValue("abc~12345"), 0x2345);
  EXPECT_EQ(ChecksumFieldValue("abc"), 0);
  EXPECT_EQ(ChecksumFieldValue("a~1~2"), 1);
}

TEST(RecordKey, LeadingHexRun) {
  EXPECT_EQ(RecordKey("0A1F,body~1234"), 0x0A1F);
  EXPECT_EQ(RecordKey("ZZ~1234"), 0);
  EXPECT_EQ(RecordKey("ffffffff~1234"), -1);
}

struct TrimCase {
  std::string line;
  std::string trimmed;
};

class TrimNewlines : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimNewlines, RemovesLineEndOnly) {
  std::string buffer = GetParam().line;
  TrimTrailingNewlines(buffer.data());
  EXPECT_EQ(std::string(buffer.c_str()), GetParam().trimmed);
  std::string sized = GetParam().line;
  EXPECT_EQ(sized.substr(0, TrimTrailingNewlines(sized.data(), sized.size())), GetParam().trimmed);
}

INSTANTIATE_TEST_SUITE_P(Lines, TrimNewlines,
                         ::testing::Values(TrimCase{"abc\r\n", "abc\r"}, TrimCase{"abc \n", "abc "},
                                           TrimCase{"\n", ""}, TrimCase{"abc", "abc"},
                                           TrimCase{"", ""}, TrimCase{"abc\n\n", "abc"},
                                           TrimCase{"abc\xE9\n", "abc\xE9"},
                                           TrimCase{"abc\n \n", "abc"}, TrimCase{"a\nb\n", "a\nb"},
                                           TrimCase{"  \n", "  "}));

}  // namespace
}  // namespace talven
