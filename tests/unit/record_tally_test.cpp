#include "records/record_tally.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace talven {
namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File Holding(const std::string& text) {
  File file(std::tmpfile(), &std::fclose);
  std::fwrite(text.data(), 1, text.size(), file.get());
  std::rewind(file.get());
  return file;
}

struct TallyCase {
  const char* oldText;
  const char* newText;
  const char* counts;
};

class FileTally : public ::testing::TestWithParam<TallyCase> {};

TEST_P(FileTally, CountsAsTheDiffPairs) {
  File before = Holding(GetParam().oldText);
  File after = Holding(GetParam().newText);
  DiffTally tally;
  ASSERT_TRUE(TallyRecordFiles(before.get(), after.get(), tally));
  EXPECT_EQ(FormatDiffSummary(tally), GetParam().counts);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileTally,
    ::testing::Values(
        TallyCase{"", "", "0 same, 0 changed, 0 added, 0 removed"},
        TallyCase{"1,a~0\r\n2,b~0\r\n", "1,a~0\n2,b~0", "2 same, 0 changed, 0 added, 0 removed"},
        TallyCase{"1,a~0\r\n1,b~0\r\n9,x~0\r\n", "1,a~0\r\n1,c~0\r\n1,d~0\r\n",
                  "1 same, 1 changed, 1 added, 1 removed"},
        TallyCase{"1,a~0\r\n",
                  "1,a~0\r\n\x1a"
                  "2,b~0\r\n",
                  "1 same, 0 changed, 0 added, 0 removed"},
        TallyCase{"1,a~0\r\n2,b~0\r\n", "", "0 same, 0 changed, 0 added, 2 removed"}));

}  // namespace
}  // namespace talven
