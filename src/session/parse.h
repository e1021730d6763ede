// Pure parsing of command-line words and typed answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace talven {

// The decimal value of a text read the C library way: leading white space skipped, an optional sign,
// digits up to the first other character; text without leading digits gives 0. Saturates at the
// 32-bit limits instead of overflowing.
std::int32_t LeadingDecimal(std::string_view text);

// Characters of typed answers, one at a time; Get answers -1 at the end of the input.
class CharSource {
 public:
  virtual ~CharSource() = default;
  virtual int Get() = 0;
  virtual void Unget(int c) = 0;
};

// One "%d" answer: white space (line ends too) skipped, then a sign and digits; the character after the
// number stays in the input. Text that is not a number is discarded up to the end of its line.
enum class NumberAnswer { kNumber, kNotANumber, kEndOfInput };
NumberAnswer ReadNumberAnswer(CharSource& input, std::int32_t& value);

// One "%s" answer: white space skipped, then the word up to the next white space, which stays in the
// input. A word longer than capacity - 1 is read to its end and refused as a whole.
enum class WordAnswer { kWord, kTooLong, kEndOfInput };
WordAnswer ReadWordAnswer(CharSource& input, char* out, std::size_t capacity);

}  // namespace talven
