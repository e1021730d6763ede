// Looking a name up and opening it as a stream, with the name in UTF-8 on every
// system (on Windows through WideName and the W calls).
#pragma once

#include <cstdint>
#include <cstdio>

namespace talven {

enum class FileKind { kMissing, kRegular, kDirectory, kDevice, kLink, kOther };

// What the name stands for; a name that cannot be looked up counts as missing. With followLinks
// false a symbolic link (on Windows any reparse point) is kLink.
FileKind KindOf(const char* name, bool followLinks = true);

// As std::fopen.
std::FILE* OpenFile(const char* name, const char* mode);

// The text for a file error's errno; on Windows EBUSY, a file another program holds open, reads
// "in use by another program".
const char* FileErrorText(int error);

}  // namespace talven
