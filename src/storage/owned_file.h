// A stdio stream with one owner, closed when its owner goes, however the session ends.
#pragma once

#include <cstdio>
#include <memory>

namespace talven {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

// Closes it now; false when the close failed (its buffered data did not reach the system).
inline bool CloseOwnedFile(OwnedFile& file) {
  return file == nullptr || std::fclose(file.release()) == 0;
}

}  // namespace talven
