#include "session/parse.h"

#include <gtest/gtest.h>

#include <string>

namespace talven {
namespace {

TEST(LeadingDecimal, ReadsLikeTheCLibrary) {
  EXPECT_EQ(LeadingDecimal("3"), 3);
  EXPECT_EQ(LeadingDecimal("  -5x"), -5);
  EXPECT_EQ(LeadingDecimal("+12"), 12);
  EXPECT_EQ(LeadingDecimal("COM3"), 0);
  EXPECT_EQ(LeadingDecimal(""), 0);
  EXPECT_EQ(LeadingDecimal("0"), 0);
  EXPECT_EQ(LeadingDecimal("255"), 255);
  EXPECT_EQ(LeadingDecimal("99999999999999"), 2147483647);
  EXPECT_EQ(LeadingDecimal("-99999999999999"), -2147483647 - 1);
}

class StringSource final : public CharSource {
 public:
  explicit StringSource(std::string text) : text_(std::move(text)) {}
  int Get() override {
    return position_ < text_.size() ? static_cast<unsigned char>(text_[position_++]) : -1;
  }
  void Unget(int) override { --position_; }
  std::string Rest() const { return text_.substr(position_); }

 private:
  std::string text_;
  std::size_t position_ = 0;
};

TEST(LineAnswer, TakesTheWholeLineAndLeavesTheNext) {
  StringSource input("\n  1 zz \r\n/dev/tty USB\nabcdefghij\nlast");
  char line[10];
  EXPECT_EQ(ReadLineAnswer(input, line, sizeof line), WordAnswer::kWord);
  EXPECT_STREQ(line, "1 zz");
  EXPECT_EQ(ReadLineAnswer(input, line, sizeof line), WordAnswer::kTooLong);
  EXPECT_EQ(ReadLineAnswer(input, line, sizeof line), WordAnswer::kTooLong);
  EXPECT_EQ(ReadLineAnswer(input, line, sizeof line), WordAnswer::kWord);
  EXPECT_STREQ(line, "last");
  EXPECT_EQ(ReadLineAnswer(input, line, sizeof line), WordAnswer::kEndOfInput);
}

struct PortWordCase {
  const char* text;
  bool paths;
  PortWordKind kind;
  std::int32_t number;
  const char* restOrPath;
};

class PortWordTest : public ::testing::TestWithParam<PortWordCase> {};

TEST_P(PortWordTest, Reads) {
  const PortWordCase& c = GetParam();
  const PortWord word = ReadPortWord(c.text, c.paths);
  EXPECT_EQ(word.kind, c.kind);
  EXPECT_EQ(word.number, c.number);
  EXPECT_EQ(c.kind == PortWordKind::kPath ? word.path : word.rest, c.restOrPath);
}

INSTANTIATE_TEST_SUITE_P(
    Words, PortWordTest,
    ::testing::Values(PortWordCase{"3", true, PortWordKind::kNumber, 3, ""},
                      PortWordCase{" -4 ", true, PortWordKind::kNumber, -4, ""},
                      PortWordCase{"COM3", false, PortWordKind::kNumber, 3, ""},
                      PortWordCase{"com12", true, PortWordKind::kNumber, 12, ""},
                      PortWordCase{"Com007 x", true, PortWordKind::kNumber, 7, "x"},
                      PortWordCase{"1 zz", true, PortWordKind::kNumber, 1, "zz"},
                      PortWordCase{"3x", true, PortWordKind::kNumber, 3, "x"},
                      PortWordCase{"00000000000000000005", true, PortWordKind::kNumber, 5, ""},
                      PortWordCase{"99999999999", true, PortWordKind::kNumber, 2147483647, ""},
                      PortWordCase{"COM", true, PortWordKind::kNotAPort, 0, ""},
                      PortWordCase{"COM-3", true, PortWordKind::kNotAPort, 0, ""},
                      PortWordCase{"-", true, PortWordKind::kNotAPort, 0, ""},
                      PortWordCase{"", true, PortWordKind::kNotAPort, 0, ""},
                      PortWordCase{"/dev/ttyUSB0 ", true, PortWordKind::kPath, 0, "/dev/ttyUSB0"},
                      PortWordCase{"/dev/pts/0 extra", true, PortWordKind::kPath, 0, "/dev/pts/0"},
                      PortWordCase{"/dev/ttyUSB0", false, PortWordKind::kNotAPort, 0, ""}));

TEST(WordAnswer, OneWordAtATime) {
  StringSource input("  my file.txt\n");
  char word[16];
  EXPECT_EQ(ReadWordAnswer(input, word, sizeof word), WordAnswer::kWord);
  EXPECT_STREQ(word, "my");
  EXPECT_EQ(ReadWordAnswer(input, word, sizeof word), WordAnswer::kWord);
  EXPECT_STREQ(word, "file.txt");
  EXPECT_EQ(ReadWordAnswer(input, word, sizeof word), WordAnswer::kEndOfInput);
}

TEST(WordAnswer, OverlongWordRefusedWhole) {
  StringSource input("abcdefghij next");
  char word[8];
  EXPECT_EQ(ReadWordAnswer(input, word, sizeof word), WordAnswer::kTooLong);
  EXPECT_EQ(ReadWordAnswer(input, word, sizeof word), WordAnswer::kWord);
  EXPECT_STREQ(word, "next");
}

}  // namespace
}  // namespace talven
