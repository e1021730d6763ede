#include "records/clone_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "storage/durable_file.h"

namespace talven {
namespace {

struct CheckCase {
  const char* name;
  std::string text;
  std::uint32_t records;
  std::vector<std::pair<std::uint32_t, std::string>> faults;
};

// "01,a" sums to 0x01EB and "02,b" to 0x01ED.
const std::string kGood = "01,a~01EB\r\n02,b~01ed\n";
const std::string kLong = "03," + std::string(4100, 'x') + "~0000\n";

class CloneCheck : public testing::TestWithParam<CheckCase> {};

TEST_P(CloneCheck, ReadsAsTheTransferReadsAndNamesTheFirstFaults) {
  const CheckCase& c = GetParam();
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fwrite(c.text.data(), 1, c.text.size(), file);
  std::rewind(file);
  const CloneFileCheck check = CheckCloneFile(file);
  std::fclose(file);
  EXPECT_EQ(check.records, c.records);
  EXPECT_EQ(check.faultCount, c.faults.size());
  for (std::size_t i = 0; i < c.faults.size() && i < CloneFileCheck::kFaultsKept; ++i) {
    EXPECT_EQ(check.faults[i].line, c.faults[i].first);
    EXPECT_EQ(check.faults[i].reason, c.faults[i].second);
  }
  EXPECT_EQ(check.Passed(), c.records > 0 && c.faults.empty());
}

// Eleven bad lines: every one is counted, the first ten are kept.
const std::vector<std::pair<std::uint32_t, std::string>> kElevenBad = [] {
  std::vector<std::pair<std::uint32_t, std::string>> faults;
  for (std::uint32_t line = 1; line <= 11; ++line) {
    faults.emplace_back(line, "no \"~\" checksum field");
  }
  return faults;
}();
std::string Repeated(const std::string& line, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += line;
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Files, CloneCheck,
    testing::Values(CheckCase{"Good", kGood, 2, {}},
                    CheckCase{"LastLineWithoutLineEnd", "01,a~01EB\n02,b~01ED", 2, {}},
                    CheckCase{"Empty", "", 0, {}},
                    CheckCase{"OnlyTheEndMark",
                              "\x1A"
                              "01,a~01EB\n",
                              0,
                              {}},
                    CheckCase{"BadSum",
                              kGood + "03,c~0A2F\n",
                              3,
                              {{3, "checksum 0A2F does not match its record (01EF)"}}},
                    CheckCase{"NoField", "01,a\n" + kGood, 3, {{1, "no \"~\" checksum field"}}},
                    CheckCase{"EmptyLine", "01,a~01EB\n\n", 2, {{2, "no \"~\" checksum field"}}},
                    CheckCase{"LongLineIsOneFault",
                              kGood + kLong + kGood,
                              5,
                              {{3, "longer than 4091 characters"}}},
                    CheckCase{"ExactlyOneReadIsFine",
                              "01," + std::string(4083, 'y') + "~0000",
                              1,
                              {{1, "checksum 0000 does not match its record (8B65)"}}},
                    CheckCase{"TenKept", Repeated("x\n", 11), 11, kElevenBad}),
    [](const testing::TestParamInfo<CheckCase>& param) { return std::string(param.param.name); });

TEST(DurableFile, NewFileNeverTouchesAnOldOneAndReplaceTakesTheWholeFile) {
  const char* kOld = "durable_test_old.txt";
  const char* kNew = "durable_test_new.txt";
  std::remove(kNew);
  std::FILE* old = std::fopen(kOld, "wb");
  ASSERT_NE(old, nullptr);
  std::fputs("old", old);
  std::fclose(old);
  EXPECT_EQ(CreateNewFile(kOld), nullptr);
  std::FILE* file = CreateNewFile(kNew);
  ASSERT_NE(file, nullptr);
  std::fputs("new data", file);
  EXPECT_TRUE(SyncFile(file));
  std::fclose(file);
  HeldFile from;
  ASSERT_TRUE(from.Open(kNew, OpenRule::kExisting));
  HeldFile to;
  bool targetGone = false;
  EXPECT_TRUE(ReplaceHeldFile(from, to, kOld, targetGone));
  char text[16] = {};
  std::FILE* check = std::fopen(kOld, "rb");
  ASSERT_NE(check, nullptr);
  EXPECT_EQ(std::fread(text, 1, sizeof text - 1, check), 8u);
  std::fclose(check);
  EXPECT_STREQ(text, "new data");
  EXPECT_EQ(std::fopen(kNew, "rb"), nullptr);
  std::remove(kOld);
}

}  // namespace
}  // namespace talven
