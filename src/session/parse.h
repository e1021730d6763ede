// Pure parsing of command-line words and typed answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace talven {

// The decimal value of a text read the C library way: leading white space skipped, an optional
// sign, digits up to the first other character; text without leading digits gives 0. Saturates at
// the 32-bit limits instead of overflowing.
std::int32_t LeadingDecimal(std::string_view text);

// Characters of typed answers, one at a time; Get answers -1 at the end of the input.
class CharSource {
 public:
  virtual ~CharSource() = default;
  virtual int Get() = 0;
  virtual void Unget(int c) = 0;
};

// A port as a word: "n" (sign and digits), "COMn" (any case), or with paths allowed a device path
// beginning with "/" up to the first blank. What follows the number or the path, white space
// skipped, is the rest. A word that is none of these is not a port; its number is then the
// LeadingDecimal value.
enum class PortWordKind { kNumber, kPath, kNotAPort };
struct PortWord {
  PortWordKind kind = PortWordKind::kNotAPort;
  std::int32_t number = 0;
  std::string_view path;  // kPath: the path
  std::string_view rest;  // the text after the number or the path, trailing white space cut
};
PortWord ReadPortWord(std::string_view text, bool pathsAllowed);

// One "%s" answer: white space skipped, then the word up to the next white space, which stays in
// the input. A word longer than capacity - 1 is read to its end and refused as a whole.
enum class WordAnswer { kWord, kTooLong, kEndOfInput };
WordAnswer ReadWordAnswer(CharSource& input, char* out, std::size_t capacity);

// One answer line: white space and empty lines skipped, then the text up to the line end, which is
// taken from the input too, so nothing of this answer is left for the next prompt. A line longer
// than capacity - 1 is read to its end and refused as a whole.
WordAnswer ReadLineAnswer(CharSource& input, char* out, std::size_t capacity);

}  // namespace talven
