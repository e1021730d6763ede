// Text inside the program is UTF-8; Windows takes and gives names and console text as UTF-16. The
// one conversion between the two, the same on every system so that it is tested everywhere.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talven {

// UTF-8 to UTF-16. A lone surrogate written as three bytes (as Utf8FromUtf16 writes it) comes back
// as that surrogate, so that every name Windows can hold passes through unchanged. Nothing for
// bytes that are no UTF-8 (a stray 0x80, an overlong form, a code point past U+10FFFF).
std::optional<std::u16string> Utf16FromUtf8(std::string_view text);

// UTF-16 to UTF-8; a lone surrogate is written as the three bytes of its value.
std::string Utf8FromUtf16(std::u16string_view text);

}  // namespace talven
