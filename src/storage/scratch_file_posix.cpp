#include <cstdio>

#include "storage/scratch_file.h"

namespace talven {

std::FILE* OpenScratchFile() {
  return std::tmpfile();
}

}  // namespace talven
