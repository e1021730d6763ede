// The one conversion of a file name to the wide string the system's W calls take. Included by the
// Windows files of this floor only.
#pragma once

#include <windows.h>

#include <string>

namespace talven {

// Empty when the name cannot be converted.
inline std::wstring WideFileName(const char* name) {
  const int length = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), length) <= 0) return {};
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

}  // namespace talven
