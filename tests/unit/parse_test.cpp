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

TEST(NumberAnswer, NumbersAndRejects) {
  StringSource input("\n  42\nabc def\n-5 7x\n");
  std::int32_t value = 0;
  EXPECT_EQ(ReadNumberAnswer(input, value), NumberAnswer::kNumber);
  EXPECT_EQ(value, 42);
  // Not a number: the rest of its line goes, so the next answer is read afresh.
  EXPECT_EQ(ReadNumberAnswer(input, value), NumberAnswer::kNotANumber);
  EXPECT_EQ(ReadNumberAnswer(input, value), NumberAnswer::kNumber);
  EXPECT_EQ(value, -5);
  EXPECT_EQ(ReadNumberAnswer(input, value), NumberAnswer::kNumber);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(input.Rest(), "x\n");
  EXPECT_EQ(ReadNumberAnswer(input, value), NumberAnswer::kNotANumber);
  EXPECT_EQ(ReadNumberAnswer(input, value), NumberAnswer::kEndOfInput);
}

TEST(NumberAnswer, LeadingZerosDoNotCrowdOutTheDigits) {
  StringSource input("0000000000000000005 -00000000000000000012\n");
  std::int32_t value = 0;
  EXPECT_EQ(ReadNumberAnswer(input, value), NumberAnswer::kNumber);
  EXPECT_EQ(value, 5);
  EXPECT_EQ(ReadNumberAnswer(input, value), NumberAnswer::kNumber);
  EXPECT_EQ(value, -12);
}

TEST(NumberAnswer, SignWithoutDigitsIsNotANumber) {
  StringSource input("-\n3\n");
  std::int32_t value = 0;
  EXPECT_EQ(ReadNumberAnswer(input, value), NumberAnswer::kNotANumber);
  EXPECT_EQ(ReadNumberAnswer(input, value), NumberAnswer::kNumber);
  EXPECT_EQ(value, 3);
}

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
