// What wine cannot show of the Windows build: the console modes of a session, where the exit
// prompt goes, the long-name form, and the manifest in the executable.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "names/wide_name_win32.h"
#include "process/console_mode_win32.h"

namespace talven {
namespace {

struct ModeCase {
  DWORD saved;
  bool change;
  DWORD session;
  DWORD restore;
};

TEST(ConsoleModes, QuickEditIsOffForTheSessionAndBackAfter) {
  const DWORD typical = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                        ENABLE_INSERT_MODE | ENABLE_QUICK_EDIT_MODE | ENABLE_EXTENDED_FLAGS;
  const ModeCase cases[] = {
      {typical, true, typical & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE), typical},
      // Without the extended flags the QuickEdit bit would be ignored, both ways.
      {ENABLE_QUICK_EDIT_MODE | ENABLE_PROCESSED_INPUT, true,
       ENABLE_EXTENDED_FLAGS | ENABLE_PROCESSED_INPUT,
       ENABLE_QUICK_EDIT_MODE | ENABLE_PROCESSED_INPUT | ENABLE_EXTENDED_FLAGS},
      // Already off: nothing to change, nothing to put back.
      {ENABLE_PROCESSED_INPUT | ENABLE_EXTENDED_FLAGS, false, 0, 0},
  };
  for (const ModeCase& c : cases) {
    SCOPED_TRACE(c.saved);
    const SessionConsoleModes modes = ModesForSession(c.saved);
    EXPECT_EQ(modes.change, c.change);
    EXPECT_EQ(modes.session, c.session);
    EXPECT_EQ(modes.restore, c.restore);
  }
}

TEST(ConsoleModes, ExitPromptGoesWhereAKeyCanAnswerIt) {
  EXPECT_EQ(PlaceForPrompt(true, true), PromptPlace::kStandardOutput);
  EXPECT_EQ(PlaceForPrompt(true, false), PromptPlace::kConsole);  // output redirected
  EXPECT_EQ(PlaceForPrompt(false, true), PromptPlace::kNone);
  EXPECT_EQ(PlaceForPrompt(false, false), PromptPlace::kNone);
}

TEST(WideName, LongNamesTakeTheExtendedForm) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"C:\\data\\clone.txt", L"\\\\?\\C:\\data\\clone.txt"},
      {L"\\\\server\\share\\clone.txt", L"\\\\?\\UNC\\server\\share\\clone.txt"},
      {L"\\\\?\\C:\\clone.txt", L"\\\\?\\C:\\clone.txt"},
      {L"\\\\.\\COM12", L"\\\\.\\COM12"},
  };
  for (const auto& [full, expected] : cases) EXPECT_EQ(LongNameForm(full), expected);
  EXPECT_EQ(WideName("clone.txt"), L"clone.txt");
  EXPECT_EQ(WideName("\xC5\x81\xC3\xB3"
                     "d\xC5\xBA.txt"),
            L"\u0141\u00F3d\u017A.txt");
  EXPECT_EQ(WideName("caf\xE9.txt"), L"");  // no UTF-8
  const std::wstring deep = WideName((std::string(300, 'a') + "\\clone.txt").c_str());
  EXPECT_EQ(deep.rfind(L"\\\\?\\", 0), 0u);
  EXPECT_TRUE(deep.ends_with(std::wstring(300, L'a') + L"\\clone.txt"));
}

TEST(Manifest, DeclaresLongPathsAndUtf8) {
  const HMODULE self = GetModuleHandleW(nullptr);
  const HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(found, nullptr);
  const HGLOBAL loaded = LoadResource(self, found);
  ASSERT_NE(loaded, nullptr);
  const std::string_view text(static_cast<const char*>(LockResource(loaded)),
                              SizeofResource(self, found));
  EXPECT_NE(text.find("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                      "WindowsSettings\">true</longPathAware>"),
            std::string_view::npos);
  EXPECT_NE(text.find(">UTF-8</activeCodePage>"), std::string_view::npos);
}

}  // namespace
}  // namespace talven
