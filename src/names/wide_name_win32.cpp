#include "names/wide_name_win32.h"

#include <windows.h>

#include <cerrno>

#include "text/utf8.h"

namespace talven {

namespace {

// Folders are refused past this length without the \\?\ form (a file name of 8.3 must fit after
// it), plain names past MAX_PATH.
constexpr std::size_t kClassicLimit = MAX_PATH - 12;

}  // namespace

std::wstring LongNameForm(const std::wstring& fullPath) {
  if (fullPath.starts_with(L"\\\\?\\") || fullPath.starts_with(L"\\\\.\\")) return fullPath;
  if (fullPath.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + fullPath.substr(2);
  return L"\\\\?\\" + fullPath;
}

std::wstring WideName(const char* name) {
  const std::optional<std::u16string> converted = Utf16FromUtf8(name);
  if (!converted || converted->empty()) {
    errno = EINVAL;
    return {};
  }
  std::wstring wide(converted->begin(), converted->end());
  // A short name relative to a deep folder is long as well: the full path decides.
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed <= kClassicLimit) return wide;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return wide;
  full.resize(length);
  return LongNameForm(full);
}

}  // namespace talven
