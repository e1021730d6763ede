#include "clone/received_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "clone/clone_file.h"
#include "clone/durable_file.h"
#include "process/config.h"
#include "process/exit_path.h"

namespace talven {

namespace {

struct ReceivedFile {
  char name[kFileNameMax + 1] = {};
  char partialName[kFileNameMax + sizeof kPartialSuffix] = {};
  std::FILE* guard = nullptr;  // NAME held open so that no other session sends or empties it
  bool direct = false;
};
ReceivedFile gReceived;

// Any end but a completed transfer: the records answered so far are kept and named. A partial file
// that got no record says nothing worth keeping.
void KeepPartialFile() {
  std::error_code error;
  const auto size = std::filesystem::file_size(gReceived.partialName, error);
  if (error) return;  // already put in place, only its folder's sync failed
  if (size == 0) {
    std::filesystem::remove(gReceived.partialName, error);
    return;
  }
  std::fflush(stdout);
  std::fprintf(stderr, "talven: received records kept in %s\n", gReceived.partialName);
}

void ReleaseGuard() {
  if (gReceived.guard != nullptr) std::fclose(gReceived.guard);
  gReceived.guard = nullptr;
}

}  // namespace

bool PartialNameOf(const char* name, char* out, std::size_t capacity) {
  const int length = std::snprintf(out, capacity, "%s%s", name, kPartialSuffix);
  return length >= 0 && static_cast<std::size_t>(length) < capacity;
}

std::FILE* OpenReceivedFile(const char* name) {
  ReleaseGuard();
  gReceived = ReceivedFile{};
  std::snprintf(gReceived.name, sizeof gReceived.name, "%s", name);
  std::error_code error;
  const auto status = std::filesystem::status(name, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    gReceived.direct = true;
    return OpenSessionFile(name, "w");
  }
  if (!PartialNameOf(name, gReceived.partialName, sizeof gReceived.partialName)) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  if (std::filesystem::exists(status)) {
    gReceived.guard = OpenSessionFile(name, "r+");
    if (gReceived.guard == nullptr) return nullptr;
  }
  std::FILE* file = OpenSessionFile(gReceived.partialName, "w");
  if (file == nullptr) {
    const int saved = errno;
    ReleaseGuard();
    errno = saved;
    return nullptr;
  }
  RunOnExit(KeepPartialFile);
  return file;
}

bool CommitReceivedFile(std::FILE*& file) {
  if (!SyncFile(file)) return false;
  if (gReceived.direct) return true;
  if (!CloseTrackedFile(file)) return false;
  // Windows cannot replace a file that is open; the guard has done its work by now.
  ReleaseGuard();
  if (!ReplaceFileDurably(gReceived.partialName, gReceived.name)) return false;
  DropFromExit(KeepPartialFile);
  return true;
}

}  // namespace talven
