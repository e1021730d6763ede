// Pure parsing of command-line and prompt answers.
#pragma once

#include <cstdint>
#include <string_view>

namespace talven {

// The decimal value of a text read the C library way: leading white space skipped, an optional sign,
// digits up to the first other character; text without leading digits gives 0. Saturates at the
// 32-bit limits instead of overflowing.
std::int32_t LeadingDecimal(std::string_view text);

// Result of reading one "%d" answer from a stream of characters.
enum class NumberAnswer { kNumber, kNotANumber, kEndOfInput };

}  // namespace talven
