// The one door from the program's names to the system's: every file call of the Windows build
// takes its name from here and calls the wide (W) API.
#pragma once

#include <string>

namespace talven {

// The UTF-8 name as the UTF-16 name a W call takes. A name whose full path is too long for the
// classic limit is given as its full path in the \\?\ form, which the W calls take at any length.
// Empty, with errno EINVAL, for a name that is no UTF-8.
std::wstring WideName(const char* name);

// The \\?\ form of a full path (\\server\share\... becomes \\?\UNC\server\share\...); a path
// already in a \\?\ or \\.\ form is returned as it is.
std::wstring LongNameForm(const std::wstring& fullPath);

}  // namespace talven
