#include "session/parse.h"

#include <limits>

namespace talven {

std::int32_t LeadingDecimal(std::string_view text) {
  std::size_t i = 0;
  auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < text.size() && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kLimit) value = kLimit;
  }
  if (negative) return static_cast<std::int32_t>(-value);
  return static_cast<std::int32_t>(value == kLimit ? kLimit - 1 : value);
}

}  // namespace talven

namespace talven {

namespace {

bool IsAnswerSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int SkipSpace(CharSource& input) {
  int c = input.Get();
  while (c >= 0 && IsAnswerSpace(c)) c = input.Get();
  return c;
}

}  // namespace

NumberAnswer ReadNumberAnswer(CharSource& input, std::int32_t& value) {
  int c = SkipSpace(input);
  if (c < 0) return NumberAnswer::kEndOfInput;
  char digits[16];
  std::size_t length = 0;
  if (c == '+' || c == '-') {
    digits[length++] = static_cast<char>(c);
    c = input.Get();
  }
  bool any = false;
  bool significant = false;
  for (; c >= '0' && c <= '9'; c = input.Get()) {
    any = true;
    // Leading zeros would take the room of the digits that count ("%d" reads 0000000000000000005
    // as 5). Further digits only push the value past the limit, where it saturates anyway.
    if (c == '0' && !significant) continue;
    significant = true;
    if (length < sizeof digits) digits[length++] = static_cast<char>(c);
  }
  if (!any) {
    while (c >= 0 && c != '\n') c = input.Get();
    return NumberAnswer::kNotANumber;
  }
  if (c >= 0) input.Unget(c);
  value = LeadingDecimal(std::string_view(digits, length));
  return NumberAnswer::kNumber;
}

WordAnswer ReadWordAnswer(CharSource& input, char* out, std::size_t capacity) {
  int c = SkipSpace(input);
  if (c < 0) return WordAnswer::kEndOfInput;
  std::size_t length = 0;
  bool tooLong = false;
  for (; c >= 0 && !IsAnswerSpace(c); c = input.Get()) {
    if (length + 1 < capacity) {
      out[length++] = static_cast<char>(c);
    } else {
      tooLong = true;
    }
  }
  if (c >= 0) input.Unget(c);
  if (capacity > 0) out[length] = '\0';
  return tooLong ? WordAnswer::kTooLong : WordAnswer::kWord;
}

}  // namespace talven
