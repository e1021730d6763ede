#include <cstdio>

#include "clone/scratch_file.h"

namespace talven {

std::FILE* OpenScratchFile() {
  return std::tmpfile();
}

}  // namespace talven
