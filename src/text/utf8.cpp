#include "text/utf8.h"

namespace talven {

namespace {

bool IsHighSurrogate(char32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The code point whose sequence starts at text[at], and its length; false for bytes that are no
// UTF-8.
bool DecodeOne(std::string_view text, std::size_t at, char32_t& point, std::size_t& length) {
  const auto lead = static_cast<unsigned char>(text[at]);
  // The smallest value each length may carry: anything below is an overlong form.
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (lead < 0x80) {
    point = lead;
    length = 1;
    return true;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    point = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    point = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    point = lead & 0x07u;
  } else {
    return false;
  }
  if (text.size() - at < length) return false;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0u) != 0x80u) return false;
    point = (point << 6) | (next & 0x3Fu);
  }
  return point >= kLeast[length] && point <= 0x10FFFF;
}

void Append(std::string& out, char32_t point) {
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xC0 | (point >> 6));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    out += static_cast<char>(0xE0 | (point >> 12));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (point >> 18));
    out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  }
}

}  // namespace

std::optional<std::u16string> Utf16FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    char32_t point = 0;
    std::size_t length = 0;
    if (!DecodeOne(text, at, point, length)) return std::nullopt;
    at += length;
    if (point < 0x10000) {
      out += static_cast<char16_t>(point);
    } else {
      point -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (point >> 10));
      out += static_cast<char16_t>(0xDC00 + (point & 0x3FF));
    }
  }
  return out;
}

std::string Utf8FromUtf16(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (std::size_t at = 0; at < text.size(); ++at) {
    char32_t point = text[at];
    if (IsHighSurrogate(point) && at + 1 < text.size() && IsLowSurrogate(text[at + 1])) {
      point = 0x10000 + ((point - 0xD800) << 10) + (text[at + 1] - 0xDC00);
      ++at;
    }
    Append(out, point);
  }
  return out;
}

}  // namespace talven
