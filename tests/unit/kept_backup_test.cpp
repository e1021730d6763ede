#include "storage/kept_backup.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace talven {
namespace {

struct NumberCase {
  const char* entry;
  std::uint64_t number;  // 0: no numbered backup of "scan.txt"
};

class BackupNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(BackupNumber, ReadsOnlyTheNumberedNamesOfTheFile) {
  EXPECT_EQ(BackupNumberOf("scan.txt", GetParam().entry), GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(
    Names, BackupNumber,
    ::testing::Values(NumberCase{"scan.txt.~1~", 1}, NumberCase{"scan.txt.~12~", 12},
                      NumberCase{"scan.txt~", 0}, NumberCase{"scan.txt", 0},
                      NumberCase{"scan.txt.~~", 0}, NumberCase{"scan.txt.~1x~", 0},
                      NumberCase{"scan.txt.~1~.new", 0}, NumberCase{"xscan.txt.~1~", 0},
                      NumberCase{"scan.txt.~99999999999999999999999~", 0},
                      NumberCase{"scan.tx.~1~", 0}));

TEST(BackupControlWords, KnowsSimpleAndNumberedOnly) {
  BackupControl control = BackupControl::kNone;
  EXPECT_TRUE(ParseBackupControl("numbered", control));
  EXPECT_EQ(control, BackupControl::kNumbered);
  EXPECT_TRUE(ParseBackupControl("simple", control));
  EXPECT_EQ(control, BackupControl::kSimple);
  for (const char* word : {"", "never", "Simple", "t", "existing"}) {
    EXPECT_FALSE(ParseBackupControl(word, control)) << word;
  }
}

}  // namespace
}  // namespace talven
