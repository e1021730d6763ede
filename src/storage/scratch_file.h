// A file for data the program keeps for a while and then drops, such as a copy of a pipe.
#pragma once

#include <cstdio>

namespace talven {

// A new, empty temporary file open for reading and writing, deleted when it is closed; nullptr
// with errno set on failure. On Windows it stands in the user's temporary folder.
std::FILE* OpenScratchFile();

}  // namespace talven
