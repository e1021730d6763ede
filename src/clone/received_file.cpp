#include "clone/received_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "clone/transfer_lines.h"
#include "names/file_system.h"
#include "process/exit_path.h"
#include "process/signals.h"
#include "process/text_io.h"
#include "serial/line_exchange.h"
#include "storage/durable_file.h"

namespace talven {

namespace {

void ReportErrno(const char* what, int error) {
  ReportError(what, FileErrorText(error != 0 ? error : EIO));
}

// The Part's "File Write Error (NAME)", the name as the console shows it.
void PrintFileWriteError(const char* name) {
  std::printf("File Write Error (");
  PrintText(stdout, name);
  std::printf(")\n");
}

int LastError() {
  return errno != 0 ? errno : EIO;
}

}  // namespace

bool PartialNameOf(const char* name, char* out, std::size_t capacity) {
  const int length = std::snprintf(out, capacity, "%s%s", name, kPartialSuffix);
  return length >= 0 && static_cast<std::size_t>(length) < capacity;
}

bool NamesOfReceivedFile(const char* name, ReceivedNames& names) {
  if (!ResolveLinks(name, names.target, sizeof names.target)) return false;
  if (!PartialNameOf(names.target, names.partial, sizeof names.partial)) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::snprintf(names.aside, sizeof names.aside, "%s%s", names.partial, kAsideSuffix);
  return true;
}

void FormatFailedReplace(char* out, std::size_t capacity, const char* name, const char* partial,
                         int error, bool targetGone) {
  char reason[kPathMax + 64];
  if (error == EBUSY) {
    std::snprintf(reason, sizeof reason, "another program has %s open", name);
  } else {
    std::snprintf(reason, sizeof reason, "%s", FileErrorText(error != 0 ? error : EIO));
  }
  std::snprintf(
      out, capacity, "cannot replace %s: %s; %s%s", name, reason,
      targetGone ? "the old file is gone, and the records are in " : "the records are in ",
      partial);
}

bool ReceivedFile::Fail(const char* what) {
  // A pipe with no reader yet keeps the open waiting: a signal ends the session, which says so.
  if (errno == EINTR && TakenSignal() != 0) {
    CloseAll();
    return false;
  }
  ReportErrno(what, errno);
  CloseAll();
  return false;
}

void ReceivedFile::CloseAll() {
  guard_.Close();
  earlier_.Close();
  partial_.Close();
  CloseDescriptor(direct_);
}

void ReceivedFile::Keep() {
  if (kept_ || !opened_) return;
  kept_ = true;
  // Said only where it is true: the file at the partial name is the one written (or, where the
  // replace had to let go of it, the one the system left there).
  const bool atName = partial_.IsOpen() ? partial_.IsAt(names_.partial) : direct_ < 0;
  if (!committed_ && stored_ == 0 && partial_.IsOpen() && atName) {
    // Only the session's own, empty file: an earlier one was never touched.
    partial_.Remove();
  } else if (!committed_ && stored_ > 0 && atName) {
    std::fflush(stdout);
    char line[sizeof names_.partial + 96];
    std::snprintf(line, sizeof line, "talven: received records kept in %s (%u record%s%s)\n",
                  names_.partial, static_cast<unsigned>(stored_), stored_ == 1 ? "" : "s",
                  tornLine_ ? ", then an incomplete line" : "");
    PrintText(stderr, line);
  } else if (!committed_ && stored_ > 0 && direct_ < 0) {
    char reason[96];
    std::snprintf(reason, sizeof reason,
                  "no longer names the file that held this session's %u record%s",
                  static_cast<unsigned>(stored_), stored_ == 1 ? "" : "s");
    ReportError(names_.partial, reason);
  }
  CloseAll();
}

// Made with no access but its owner's, then given the access of the file it is to replace before
// anything is written to it: the records of a private backup are never open to more users than
// the backup was.
bool ReceivedFile::CreatePartial() {
  if (!partial_.Open(names_.partial, OpenRule::kNew, guard_.IsOpen())) return false;
  if (guard_.IsOpen()) TakeAccessOf(guard_.fd(), partial_.fd(), names_.partial);
  return true;
}

// An earlier partial file with records goes to FILE.partial.1 at the first record: a folder or
// anything else there that a rename cannot replace is found now, before any record is answered.
bool ReceivedFile::CheckAside() {
  std::uint64_t size = 0;
  if (earlier_.IsOpen() && earlier_.Size(size) && size == 0) return true;  // removed, not moved
  if (KindOf(names_.aside, false) == FileKind::kDirectory) {
    errno = EISDIR;
    return false;
  }
  return true;
}

// The first record of the session: an earlier partial file goes out of the way, not lost. It is
// held through its move and until this session's own partial file is made and held.
bool ReceivedFile::StartPartial() {
  std::uint64_t size = 0;
  if (earlier_.IsOpen() && earlier_.Size(size) && size == 0) {
    // An empty one (a session killed before its first record) holds nothing to keep, and must not
    // push a set of records out of the name beside it.
    if (!earlier_.Remove()) {
      errorName_ = names_.partial;
      return false;
    }
  } else if (earlier_.IsOpen() || earlierLink_) {
    const bool moved = earlier_.IsOpen() ? earlier_.MoveTo(names_.aside)
                                         : MoveFileAside(names_.partial, names_.aside);
    if (!moved) {
      errorName_ = names_.aside;
      return false;
    }
    earlierLink_ = false;
    char note[sizeof names_.aside + 64];
    std::snprintf(note, sizeof note, "an earlier session's records moved to %s", names_.aside);
    ReportError(names_.partial, note);
  }
  const bool created = CreatePartial();
  const int error = errno;
  earlier_.Close();
  errno = error;
  if (!created) errorName_ = names_.partial;
  return created;
}

bool ReceivedFile::Open(const char* name) {
  CloseAll();
  names_ = ReceivedNames{};
  opened_ = earlierLink_ = targetExisted_ = committed_ = kept_ = tornLine_ = false;
  stored_ = 0;
  size_ = 0;
  writeError_ = 0;
  errorName_ = nullptr;
  std::snprintf(name_, sizeof name_, "%s", name);
  const FileKind kind = KindOf(name);
  if (kind != FileKind::kMissing && kind != FileKind::kRegular) {
    targetExisted_ = true;
    direct_ = OpenForWriting(name);
    if (direct_ < 0) return Fail(name);
    opened_ = true;
    return true;
  }
  if (!NamesOfReceivedFile(name, names_)) return Fail(name);
  if (kind != FileKind::kMissing) {
    if (!guard_.Open(names_.target, OpenRule::kExisting)) return Fail(name);
    targetExisted_ = true;
  }
  const FileKind partialKind = KindOf(names_.partial, false);
  if (partialKind == FileKind::kMissing) {
    // Made now, so that a second session on the same name is refused from the start.
    if (!CreatePartial()) return Fail(names_.partial);
  } else if (partialKind == FileKind::kLink) {
    earlierLink_ = true;  // never written through; moved aside as it is
  } else if (!earlier_.Open(names_.partial, OpenRule::kExisting)) {
    return Fail(names_.partial);
  }
  if ((earlierLink_ || earlier_.IsOpen()) && !CheckAside()) return Fail(names_.aside);
  opened_ = true;
  return true;
}

void ReceivedFile::Store(const char* record) {
  if (writeError_ != 0) return;
  if (direct_ < 0 && !partial_.IsOpen() && !StartPartial()) {
    writeError_ = LastError();
    return;
  }
  char line[kLineBufferSize + 2];
  const int length = std::snprintf(line, sizeof line, "%s\r\n", record);
  const std::size_t size = length < 0 ? 0 : static_cast<std::size_t>(length);
  const int fd = direct_ >= 0 ? direct_ : partial_.fd();
  if (!WriteWhole(fd, line, size)) {
    writeError_ = LastError();
    errorName_ = direct_ >= 0 ? name_ : names_.partial;
    // A torn line is no record: the file ends after the last whole one, or says it does not.
    std::uint64_t now = 0;
    if (direct_ < 0 && !CutFileTo(fd, size_)) tornLine_ = !partial_.Size(now) || now != size_;
    return;
  }
  size_ += size;
  ++stored_;
}

bool ReceivedFile::Replace(ProgressLine& progress, int& error, bool& targetGone) {
  const bool planned = PlanKeptBackup(name_, names_.target, names_.partial, guard_.IsOpen(), plan_);
  const char* backup = plan_.backupName[0] != '\0' ? plan_.backupName : nullptr;
  const ReplaceFailure failure =
      planned ? ReplaceKeepingBackup(partial_, guard_, names_.target, backup, targetGone)
              : ReplaceFailure::kBackup;
  if (failure == ReplaceFailure::kNone) return true;
  error = LastError();
  if (failure == ReplaceFailure::kBackup) {
    // FILE is as it was and the records stay in FILE.partial, which Keep then counts.
    progress.End();
    PrintFileWriteError(name_);
    ReportBackupNotKept(name_, plan_, error);
    error = 0;
  }
  return false;
}

void ReceivedFile::ReportFailedCommit(ProgressLine& progress, int error, bool targetGone) {
  progress.End();
  PrintFileWriteError(name_);
  if (errorName_ != nullptr) {
    ReportErrno(errorName_, error);
    return;
  }
  char reason[2 * kPathMax + 160];
  FormatFailedReplace(reason, sizeof reason, name_, names_.partial, error, targetGone);
  std::fflush(stdout);
  const std::string line = std::string("talven: ") + reason + "\n";
  PrintText(stderr, line.c_str());
}

bool ReceivedFile::Commit(ProgressLine& progress) {
  if (writeError_ == 0 && stored_ == 0) {
    char reason[kFileNameMax + 64];
    std::snprintf(reason, sizeof reason, "no records were received; %s was %s", name_,
                  targetExisted_ ? "left as it was" : "not created");
    ReportError(name_, reason);
    return false;
  }
  const int fd = direct_ >= 0 ? direct_ : partial_.fd();
  int error = writeError_;
  if (error == 0 && !SyncDescriptor(fd)) {
    error = LastError();
    errorName_ = direct_ >= 0 ? name_ : names_.partial;
  }
  if (error == 0 && direct_ >= 0) {
    committed_ = true;
    return true;
  }
  bool targetGone = false;
  if (error == 0 && Replace(progress, error, targetGone)) committed_ = true;
  if (!committed_) {
    if (error != 0) ReportFailedCommit(progress, error, targetGone);
    return false;
  }
  CloseAll();
  if (SyncFolderOf(names_.target)) return true;
  char reason[200];
  std::snprintf(reason, sizeof reason,
                "holds the new records, but its folder could not be synced (%s): the change may "
                "not survive a power loss",
                FileErrorText(LastError()));
  ReportError(name_, reason);
  return false;
}

}  // namespace talven
