#include "clone/received_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "clone/durable_file.h"
#include "process/config.h"
#include "process/exit_path.h"
#include "serial/line_exchange.h"

namespace talven {

namespace {

inline constexpr std::size_t kPathMax = kFileNameMax + 64;

struct ReceivedFile {
  char name[kFileNameMax + 1] = {};  // as the user gave it
  char target[kPathMax] = {};        // the file replaced: NAME, or the file its links end at
  char partialName[kPathMax + sizeof kPartialSuffix] = {};
  char asideName[kPathMax + sizeof kPartialSuffix + sizeof kAsideSuffix] = {};
  int guard = -1;    // the target held, so that no other session sends, compares or replaces it
  int earlier = -1;  // an earlier session's partial file, held until it is moved aside
  int partial = -1;  // this session's partial file
  int direct = -1;   // a device or pipe written directly
  bool earlierExists = false;
  bool own = false;  // this session made the partial file
  bool targetExisted = false;
  bool committed = false;
  std::uint32_t stored = 0;
  std::uint64_t size = 0;
  int writeError = 0;
};
ReceivedFile gReceived;

void ReportErrno(const char* what, int error) {
  ReportError(what, std::strerror(error != 0 ? error : EIO));
}

void CloseAll() {
  CloseDescriptor(gReceived.guard);
  CloseDescriptor(gReceived.earlier);
  CloseDescriptor(gReceived.partial);
  CloseDescriptor(gReceived.direct);
}

// Any end but a completed transfer: the records stored so far are kept and counted. A partial file
// this session made and stored nothing in is taken away again.
void KeepPartialFile() {
  if (!gReceived.committed && gReceived.own) {
    if (gReceived.stored == 0) {
      CloseDescriptor(gReceived.partial);
      std::error_code error;
      // Only the session's own, empty file: an earlier one was never touched.
      std::filesystem::remove(gReceived.partialName, error);
    } else {
      std::fflush(stdout);
      std::fprintf(stderr, "talven: received records kept in %s (%u record%s)\n",
                   gReceived.partialName, static_cast<unsigned>(gReceived.stored),
                   gReceived.stored == 1 ? "" : "s");
    }
  }
  CloseAll();
}

// The first record of the session: an earlier partial file goes out of the way, not lost.
bool StartPartialFile() {
  std::error_code error;
  // An empty one (a session killed before its first record) holds nothing to keep, and must not
  // push a set of records out of the name beside it.
  if (gReceived.earlier >= 0 && std::filesystem::file_size(gReceived.partialName, error) == 0 &&
      !error) {
    CloseDescriptor(gReceived.earlier);
    std::filesystem::remove(gReceived.partialName, error);
    gReceived.earlierExists = false;
  }
  if (gReceived.earlierExists) {
    CloseDescriptor(gReceived.earlier);
    if (!MoveFileAside(gReceived.partialName, gReceived.asideName)) return false;
    char note[sizeof gReceived.asideName + 64];
    std::snprintf(note, sizeof note, "an earlier session's records moved to %s",
                  gReceived.asideName);
    ReportError(gReceived.partialName, note);
    gReceived.earlierExists = false;
  }
  gReceived.partial = CreateHeldFile(gReceived.partialName);
  gReceived.own = gReceived.partial >= 0;
  return gReceived.own;
}

bool Fail(const char* what) {
  ReportErrno(what, errno);
  CloseAll();
  return false;
}

}  // namespace

bool PartialNameOf(const char* name, char* out, std::size_t capacity) {
  const int length = std::snprintf(out, capacity, "%s%s", name, kPartialSuffix);
  return length >= 0 && static_cast<std::size_t>(length) < capacity;
}

bool OpenReceivedFile(const char* name) {
  CloseAll();
  gReceived = ReceivedFile{};
  std::snprintf(gReceived.name, sizeof gReceived.name, "%s", name);
  std::error_code error;
  const auto status = std::filesystem::status(name, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    gReceived.targetExisted = true;
    gReceived.direct = OpenForWriting(name);
    return gReceived.direct >= 0 || Fail(name);
  }
  if (!ResolveLinks(name, gReceived.target, sizeof gReceived.target)) return Fail(name);
  if (!PartialNameOf(gReceived.target, gReceived.partialName, sizeof gReceived.partialName)) {
    errno = ENAMETOOLONG;
    return Fail(name);
  }
  std::snprintf(gReceived.asideName, sizeof gReceived.asideName, "%s%s", gReceived.partialName,
                kAsideSuffix);
  if (std::filesystem::exists(status)) {
    gReceived.guard = HoldExistingFile(gReceived.target);
    if (gReceived.guard < 0) return Fail(name);
    gReceived.targetExisted = true;
  }
  const auto partialStatus = std::filesystem::symlink_status(gReceived.partialName, error);
  if (!std::filesystem::exists(partialStatus)) {
    // Made now, so that a second session on the same name is refused from the start.
    gReceived.partial = CreateHeldFile(gReceived.partialName);
    if (gReceived.partial < 0) return Fail(gReceived.partialName);
    gReceived.own = true;
  } else if (std::filesystem::is_symlink(partialStatus)) {
    gReceived.earlierExists = true;  // never written through; moved aside as it is
  } else {
    gReceived.earlier = HoldExistingFile(gReceived.partialName);
    if (gReceived.earlier < 0) return Fail(gReceived.partialName);
    gReceived.earlierExists = true;
  }
  RunOnExit(KeepPartialFile);
  return true;
}

void StoreReceivedRecord(const char* record) {
  if (gReceived.writeError != 0) return;
  if (gReceived.direct < 0 && gReceived.partial < 0 && !StartPartialFile()) {
    gReceived.writeError = errno != 0 ? errno : EIO;
    return;
  }
  char line[kLineBufferSize + 2];
  const int length = std::snprintf(line, sizeof line, "%s\r\n", record);
  const std::size_t size = length < 0 ? 0 : static_cast<std::size_t>(length);
  const int fd = gReceived.direct >= 0 ? gReceived.direct : gReceived.partial;
  if (!WriteWhole(fd, line, size)) {
    gReceived.writeError = errno != 0 ? errno : EIO;
    // A torn line is no record: the file ends after the last whole one.
    if (gReceived.direct < 0) CutFileTo(fd, gReceived.size);
    return;
  }
  gReceived.size += size;
  ++gReceived.stored;
}

bool CommitReceivedFile() {
  const char* name = gReceived.name;
  if (gReceived.writeError == 0 && gReceived.stored == 0) {
    char reason[kFileNameMax + 64];
    std::snprintf(reason, sizeof reason, "no records were received; %s was %s", name,
                  gReceived.targetExisted ? "left as it was" : "not created");
    ReportError(name, reason);
    return false;
  }
  const int fd = gReceived.direct >= 0 ? gReceived.direct : gReceived.partial;
  int error = gReceived.writeError;
  if (error == 0 && !SyncDescriptor(fd)) error = errno != 0 ? errno : EIO;
  if (error == 0 && gReceived.direct >= 0) {
    gReceived.committed = true;
    return true;
  }
  if (error == 0) {
    if (gReceived.guard >= 0) TakeModeAndOwner(gReceived.guard, gReceived.partial);
    errno = 0;
    if (ReplaceHeldFile(gReceived.partial, gReceived.guard, gReceived.partialName,
                        gReceived.target)) {
      gReceived.committed = true;
    } else {
      error = errno != 0 ? errno : EIO;
    }
  }
  if (gReceived.committed) {
    CloseAll();
    if (SyncFolderOf(gReceived.target)) return true;
    char reason[200];
    std::snprintf(reason, sizeof reason,
                  "holds the new records, but its folder could not be synced (%s): the change may "
                  "not survive a power loss",
                  std::strerror(errno != 0 ? errno : EIO));
    ReportError(name, reason);
    return false;
  }
  EndProgressLine();
  std::printf("File Write Error (%s)\n", name);
  ReportErrno(gReceived.direct >= 0 ? name : gReceived.partialName, error);
  return false;
}

}  // namespace talven
