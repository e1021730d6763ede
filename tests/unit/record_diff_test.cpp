#include "records/record_diff.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talven {
namespace {

// What each NEW record became ("S2": same as OLD record 2, "C0": changed from OLD record 0, "A":
// added), and the OLD records no NEW record took.
struct DiffCase {
  const char* name;
  std::vector<std::string> oldRecords;
  std::vector<std::string> newRecords;
  std::vector<std::string> pairings;
  std::vector<std::uint32_t> removed;
};

class DiffMatching : public ::testing::TestWithParam<DiffCase> {};

TEST_P(DiffMatching, PairsByKeyAndOccurrence) {
  const DiffCase& c = GetParam();
  DiffIndex index;
  for (const std::string& r : c.oldRecords) index.AddOld(DigestRecord(r.c_str()));
  index.Seal();
  std::vector<std::string> pairings;
  for (const std::string& r : c.newRecords) {
    const DiffIndex::Pairing p = index.PairNew(DigestRecord(r.c_str()));
    std::string tag = p.outcome == DiffOutcome::kAdded ? "A" : "C";
    if (p.outcome == DiffOutcome::kSame) tag = "S";
    if (p.outcome != DiffOutcome::kAdded) tag.append(std::to_string(p.oldIndex));
    pairings.push_back(tag);
  }
  EXPECT_EQ(pairings, c.pairings);
  EXPECT_EQ(index.Unpaired(), c.removed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiffMatching,
    ::testing::Values(
        DiffCase{"Identical", {"01,a~1", "02,b~2"}, {"01,a~1", "02,b~2"}, {"S0", "S1"}, {}},
        DiffCase{"Reordered",
                 {"01,a~1", "02,b~2", "03,c~3"},
                 {"03,c~3", "01,a~1", "02,b~2"},
                 {"S2", "S0", "S1"},
                 {}},
        DiffCase{"Changed", {"01,a~1", "02,b~2"}, {"01,a~1", "02,B~2"}, {"S0", "C1"}, {}},
        DiffCase{"MissingAndAdded",
                 {"01,a~1", "02,b~2", "03,c~3"},
                 {"01,a~1", "04,d~4"},
                 {"S0", "A"},
                 {1, 2}},
        // The n-th record of a key pairs with the n-th of that key, wherever it stands.
        DiffCase{"RepeatedKeyByOccurrence",
                 {"01,x~1", "02,b~2", "01,y~1"},
                 {"02,b~2", "01,x~1", "01,Y~1"},
                 {"S1", "S0", "C2"},
                 {}},
        DiffCase{"RepeatedKeyOneMoreInNew", {"01,x~1"}, {"01,x~1", "01,x~1"}, {"S0", "A"}, {}},
        DiffCase{
            "RepeatedKeyOneMoreInOld", {"01,x~1", "01,x~1", "01,z~1"}, {"01,x~1"}, {"S0"}, {1, 2}},
        // Without a comma the key ends at the "~"; a key is text, so 1 and 01 differ.
        DiffCase{"KeyWithoutComma", {"abc~1", "1,a~1"}, {"abc~2", "01,a~1"}, {"C0", "A"}, {1}},
        DiffCase{"EmptyRecords", {"", ""}, {"", "x"}, {"S0", "A"}, {1}},
        DiffCase{"EmptyOld", {}, {"01,a~1"}, {"A"}, {}},
        DiffCase{"EmptyNew", {"01,a~1"}, {}, {}, {0}}),
    [](const ::testing::TestParamInfo<DiffCase>& test) { return std::string(test.param.name); });

TEST(DiffFormat, BlocksLikeTheMismatchLog) {
  EXPECT_EQ(FormatDiffBlock(DiffOutcome::kChanged, 4, "01,a~1", 7, "01,b~2"),
            "Changed: OLD line 4, NEW line 7\n    Old Data=01,a~1\n    New Data=01,b~2\n\n");
  EXPECT_EQ(FormatDiffBlock(DiffOutcome::kAdded, 0, "", 3, "05,n~5"),
            "Added: NEW line 3\n    Old Data=\n    New Data=05,n~5\n\n");
  EXPECT_EQ(FormatDiffBlock(DiffOutcome::kRemoved, 9, "02,o~2", 0, ""),
            "Removed: OLD line 9\n    Old Data=02,o~2\n    New Data=\n\n");
  DiffTally tally;
  for (const DiffOutcome o : {DiffOutcome::kSame, DiffOutcome::kSame, DiffOutcome::kRemoved}) {
    tally.Count(o);
  }
  EXPECT_EQ(FormatDiffSummary(tally), "2 same, 0 changed, 0 added, 1 removed");
}

struct ShownCase {
  std::string_view text;
  std::uint64_t rest;
  std::string_view shown;
};

class DiffShownText : public ::testing::TestWithParam<ShownCase> {};

// Two texts that differ never show alike: control bytes escaped, the escape character doubled.
TEST_P(DiffShownText, ControlBytesEscaped) {
  std::string out;
  AppendShownText(out, GetParam().text, GetParam().rest);
  EXPECT_EQ(out, GetParam().shown);
}

using namespace std::string_view_literals;
INSTANTIATE_TEST_SUITE_P(
    Texts, DiffShownText,
    ::testing::Values(ShownCase{"01,a b\xe9~1"sv, 0, "01,a b\xe9~1"},
                      ShownCase{"01,\0x\x1f\t\x7f~1"sv, 0, "01,\\0x\\x1f\\x09\\x7f~1"},
                      ShownCase{"\\0"sv, 0, "\\\\0"},
                      ShownCase{"9,xx"sv, 5000, "9,xx\\...(5000 more characters)"}));

}  // namespace
}  // namespace talven
