#include "clone/received_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "clone/transfer_lines.h"
#include "process/exit_path.h"
#include "process/text_io.h"
#include "serial/line_exchange.h"
#include "storage/durable_file.h"
#include "storage/file_system.h"

namespace talven {

namespace {

void ReportErrno(const char* what, int error) {
  ReportError(what, FileErrorText(error != 0 ? error : EIO));
}

void CloseAll(ReceivedFile& received) {
  CloseDescriptor(received.guard);
  CloseDescriptor(received.earlier);
  CloseDescriptor(received.partial);
  CloseDescriptor(received.direct);
}

// Any end but a completed transfer: the records stored so far are kept and counted. A partial file
// this session made and stored nothing in is taken away again.
void KeepPartialFile(void* object) {
  ReceivedFile& received = *static_cast<ReceivedFile*>(object);
  if (!received.committed && received.own) {
    if (received.stored == 0) {
      CloseDescriptor(received.partial);
      // Only the session's own, empty file: an earlier one was never touched.
      RemoveFile(received.partialName);
    } else {
      std::fflush(stdout);
      char line[sizeof received.partialName + 96];
      std::snprintf(line, sizeof line, "talven: received records kept in %s (%u record%s%s)\n",
                    received.partialName, static_cast<unsigned>(received.stored),
                    received.stored == 1 ? "" : "s",
                    received.tornLine ? ", then an incomplete line" : "");
      PrintText(stderr, line);
    }
  }
  CloseAll(received);
}

// Given the mode (and owner and group) of the file it is to replace before anything is written to
// it: the records of a private backup are never open to more users than the backup was.
bool CreatePartialFile(ReceivedFile& received) {
  received.partial = CreateHeldFile(received.partialName);
  received.own = received.partial >= 0;
  if (received.own && received.guard >= 0) TakeModeAndOwner(received.guard, received.partial);
  return received.own;
}

// The first record of the session: an earlier partial file goes out of the way, not lost.
bool StartPartialFile(ReceivedFile& received) {
  // An empty one (a session killed before its first record) holds nothing to keep, and must not
  // push a set of records out of the name beside it.
  std::uint64_t earlierSize = 0;
  if (received.earlier >= 0 && FileSizeOf(received.partialName, earlierSize) && earlierSize == 0) {
    CloseDescriptor(received.earlier);
    RemoveFile(received.partialName);
    received.earlierExists = false;
  }
  if (received.earlierExists) {
    CloseDescriptor(received.earlier);
    if (!MoveFileAside(received.partialName, received.asideName)) return false;
    char note[sizeof received.asideName + 64];
    std::snprintf(note, sizeof note, "an earlier session's records moved to %s",
                  received.asideName);
    ReportError(received.partialName, note);
    received.earlierExists = false;
  }
  return CreatePartialFile(received);
}

bool Fail(ReceivedFile& received, const char* what) {
  ReportErrno(what, errno);
  CloseAll(received);
  return false;
}

}  // namespace

bool PartialNameOf(const char* name, char* out, std::size_t capacity) {
  const int length = std::snprintf(out, capacity, "%s%s", name, kPartialSuffix);
  return length >= 0 && static_cast<std::size_t>(length) < capacity;
}

bool OpenReceivedFile(ReceivedFile& received, const char* name) {
  CloseAll(received);
  received = ReceivedFile{};
  std::snprintf(received.name, sizeof received.name, "%s", name);
  const FileKind kind = KindOf(name);
  if (kind != FileKind::kMissing && kind != FileKind::kRegular) {
    received.targetExisted = true;
    received.direct = OpenForWriting(name);
    return received.direct >= 0 || Fail(received, name);
  }
  if (!ResolveLinks(name, received.target, sizeof received.target)) return Fail(received, name);
  if (!PartialNameOf(received.target, received.partialName, sizeof received.partialName)) {
    errno = ENAMETOOLONG;
    return Fail(received, name);
  }
  std::snprintf(received.asideName, sizeof received.asideName, "%s%s", received.partialName,
                kAsideSuffix);
  if (kind != FileKind::kMissing) {
    received.guard = HoldExistingFile(received.target);
    if (received.guard < 0) return Fail(received, name);
    received.targetExisted = true;
  }
  const FileKind partialKind = KindOf(received.partialName, false);
  if (partialKind == FileKind::kMissing) {
    // Made now, so that a second session on the same name is refused from the start.
    if (!CreatePartialFile(received)) return Fail(received, received.partialName);
  } else if (partialKind == FileKind::kLink) {
    received.earlierExists = true;  // never written through; moved aside as it is
  } else {
    received.earlier = HoldExistingFile(received.partialName);
    if (received.earlier < 0) return Fail(received, received.partialName);
    received.earlierExists = true;
  }
  RunOnExit(KeepPartialFile, &received);
  return true;
}

void StoreReceivedRecord(ReceivedFile& received, const char* record) {
  if (received.writeError != 0) return;
  if (received.direct < 0 && received.partial < 0 && !StartPartialFile(received)) {
    received.writeError = errno != 0 ? errno : EIO;
    return;
  }
  char line[kLineBufferSize + 2];
  const int length = std::snprintf(line, sizeof line, "%s\r\n", record);
  const std::size_t size = length < 0 ? 0 : static_cast<std::size_t>(length);
  const int fd = received.direct >= 0 ? received.direct : received.partial;
  if (!WriteWhole(fd, line, size)) {
    received.writeError = errno != 0 ? errno : EIO;
    // A torn line is no record: the file ends after the last whole one, or says it does not.
    if (received.direct < 0 && !CutFileTo(fd, received.size)) {
      std::uint64_t onDisk = 0;
      received.tornLine = !FileSizeOf(received.partialName, onDisk) || onDisk != received.size;
    }
    return;
  }
  received.size += size;
  ++received.stored;
}

bool CommitReceivedFile(ReceivedFile& received, ProgressLine& progress) {
  const char* name = received.name;
  if (received.writeError == 0 && received.stored == 0) {
    char reason[kFileNameMax + 64];
    std::snprintf(reason, sizeof reason, "no records were received; %s was %s", name,
                  received.targetExisted ? "left as it was" : "not created");
    ReportError(name, reason);
    return false;
  }
  const int fd = received.direct >= 0 ? received.direct : received.partial;
  int error = received.writeError;
  bool replaceFailed = false;
  if (error == 0 && !SyncDescriptor(fd)) error = errno != 0 ? errno : EIO;
  if (error == 0 && received.direct >= 0) {
    received.committed = true;
    return true;
  }
  if (error == 0) {
    if (received.guard >= 0) TakeModeAndOwner(received.guard, received.partial);
    errno = 0;
    if (ReplaceHeldFile(received.partial, received.guard, received.partialName, received.target)) {
      received.committed = true;
    } else {
      error = errno != 0 ? errno : EIO;
      replaceFailed = true;
    }
  }
  if (received.committed) {
    CloseAll(received);
    if (SyncFolderOf(received.target)) return true;
    char reason[200];
    std::snprintf(reason, sizeof reason,
                  "holds the new records, but its folder could not be synced (%s): the change may "
                  "not survive a power loss",
                  FileErrorText(errno != 0 ? errno : EIO));
    ReportError(name, reason);
    return false;
  }
  progress.End();
  std::printf("File Write Error (");
  PrintText(stdout, name);
  std::printf(")\n");
  // The records are whole in the partial file; it is FILE that could not be replaced.
  ReportErrno(received.direct >= 0 || replaceFailed ? name : received.partialName, error);
  return false;
}

}  // namespace talven
