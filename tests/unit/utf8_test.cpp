// Names pass between the program's UTF-8 and the system's UTF-16 unchanged, both ways.
#include <gtest/gtest.h>

#include <string>

#include "text/utf8.h"

namespace talven {
namespace {

struct Pair {
  const char* utf8;
  std::u16string utf16;
};

const Pair kPairs[] = {
    {"", u""},
    {"out.txt", u"out.txt"},
    {"Bob\xE2\x80\x99s.txt", u"Bob\u2019s.txt"},
    {"\xC5\x81\xC3\xB3"
     "d\xC5\xBA.txt",
     u"\u0141\u00F3d\u017A.txt"},
    {"\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.txt", u"\u30C7\u30FC\u30BF.txt"},
    {"\xD0\x94\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5", u"\u0414\u0430\u043D\u043D\u044B\u0435"},
    {"\xF0\x9F\x93\xBB", u"\xD83D\xDCFB"},  // beyond the first plane: a surrogate pair
    {"a\xED\xA0\x80z", std::u16string{u'a', char16_t{0xD800}, u'z'}},  // a lone surrogate
    {"\xEF\xBF\xBF", u"\uFFFF"},
};

TEST(Utf8, ConvertsBothWays) {
  for (const Pair& pair : kPairs) {
    SCOPED_TRACE(pair.utf8);
    EXPECT_EQ(Utf16FromUtf8(pair.utf8), pair.utf16);
    EXPECT_EQ(Utf8FromUtf16(pair.utf16), pair.utf8);
  }
}

TEST(Utf8, RefusesBytesThatAreNoUtf8) {
  for (const char* bytes : {"\x80", "caf\xE9.txt", "\xC0\xAF", "\xE0\x80\xAF", "\xF4\x90\x80\x80",
                            "\xE2\x80", "\xF8\x88\x80\x80\x80", "\xFF"}) {
    SCOPED_TRACE(bytes);
    EXPECT_FALSE(Utf16FromUtf8(bytes).has_value());
  }
}

}  // namespace
}  // namespace talven
