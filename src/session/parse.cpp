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

bool IsAnswerSpace(int c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

int SkipSpace(CharSource& input) {
  int c = input.Get();
  while (c >= 0 && IsAnswerSpace(c)) c = input.Get();
  return c;
}

}  // namespace

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

WordAnswer ReadLineAnswer(CharSource& input, char* out, std::size_t capacity) {
  int c = SkipSpace(input);
  if (c < 0) return WordAnswer::kEndOfInput;
  std::size_t length = 0;
  bool tooLong = false;
  for (; c >= 0 && c != '\n'; c = input.Get()) {
    if (length + 1 < capacity) {
      out[length++] = static_cast<char>(c);
    } else {
      tooLong = true;
    }
  }
  while (length > 0 && IsAnswerSpace(out[length - 1])) --length;
  if (capacity > 0) out[length] = '\0';
  return tooLong ? WordAnswer::kTooLong : WordAnswer::kWord;
}

PortWord ReadPortWord(std::string_view text, bool pathsAllowed) {
  PortWord word;
  word.number = LeadingDecimal(text);
  std::size_t end = text.size();
  while (end > 0 && IsAnswerSpace(text[end - 1])) --end;
  std::size_t i = 0;
  while (i < end && IsAnswerSpace(text[i])) ++i;
  if (pathsAllowed && i < end && text[i] == '/') {
    // A device path has no blank in it; what follows one is the rest, as after a number.
    std::size_t pathEnd = i;
    while (pathEnd < end && !IsAnswerSpace(text[pathEnd])) ++pathEnd;
    word.kind = PortWordKind::kPath;
    word.path = text.substr(i, pathEnd - i);
    while (pathEnd < end && IsAnswerSpace(text[pathEnd])) ++pathEnd;
    word.rest = text.substr(pathEnd, end - pathEnd);
    return word;
  }
  auto isDigit = [&](std::size_t at) { return at < end && text[at] >= '0' && text[at] <= '9'; };
  auto upper = [&](std::size_t at) { return at < end ? (text[at] & ~0x20) : 0; };
  std::size_t numberStart = i;  // the sign or first digit
  if (upper(i) == 'C' && upper(i + 1) == 'O' && upper(i + 2) == 'M' && isDigit(i + 3))
    numberStart = i + 3;
  std::size_t after = numberStart;
  if (after < end && (text[after] == '+' || text[after] == '-')) ++after;
  if (!isDigit(after)) return word;
  while (isDigit(after)) ++after;
  word.kind = PortWordKind::kNumber;
  word.number = LeadingDecimal(text.substr(numberStart, after - numberStart));
  while (after < end && IsAnswerSpace(text[after])) ++after;
  word.rest = text.substr(after, end - after);
  return word;
}

}  // namespace talven
