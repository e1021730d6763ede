// The clone file of Slave mode. Received records go to NAME.partial; NAME itself is only ever
// replaced whole, by a transfer that completed with at least one record, so a failed or interrupted
// one cannot cost the user the backup that NAME held. A NAME.partial that an earlier session left
// is never emptied: it is moved to NAME.partial.1 once this session has a record of its own, or
// removed then if it is empty (a session ended before its first record), as it holds nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "clone/replaced_records.h"
#include "records/clone_file.h"
#include "storage/held_file.h"

namespace talven {

inline constexpr char kPartialSuffix[] = ".partial";
inline constexpr char kAsideSuffix[] = ".1";

struct ProgressLine;

// NAME, or the file its links end at, with room to spare.
inline constexpr std::size_t kPathMax = kFileNameMax + 64;

// The files a Slave session on NAME writes: the file replaced (NAME, or the file its links end
// at), its partial file and the name an earlier partial file is moved to.
struct ReceivedNames {
  char target[kPathMax] = {};
  char partial[kPathMax + sizeof kPartialSuffix] = {};
  char aside[kPathMax + sizeof kPartialSuffix + sizeof kAsideSuffix] = {};
};

// false with errno set when a name does not fit or a chain of links does not end.
bool NamesOfReceivedFile(const char* name, ReceivedNames& names);

// What a commit says when the partial file was written but not put in place of NAME: the name
// the system refused to replace, why (EBUSY: another program has it open), and where the records
// are; targetGone when the system took NAME away before it failed.
void FormatFailedReplace(char* out, std::size_t capacity, const char* name, const char* partial,
                         int error, bool targetGone);

// "NAME.partial"; false when it does not fit.
bool PartialNameOf(const char* name, char* out, std::size_t capacity);

// One session's received file, held from Open to Commit. Its methods keep these true:
// - FILE (the target), when it existed, is held from Open until the rename that replaces it: no
//   other session sends, compares or replaces it meanwhile.
// - An earlier session's FILE.partial is held from Open until it has been moved to FILE.partial.1
//   (or removed, when empty) and this session's own FILE.partial is created and held; there is no
//   moment at which another session could take either.
// - Open finds out whether FILE.partial.1 can take the earlier partial file, so that no record is
//   answered "OK" that cannot be stored.
// - The partial file holds exactly the records counted in stored(), whole lines, or says it does
//   not; after a failed write nothing more is stored.
// - Every "kept in FILE.partial (N records)" is said once, and only while FILE.partial is this
//   session's file holding those N records.
class ReceivedFile {
 public:
  ReceivedFile() = default;
  // Closes what it holds and says what was kept, as Keep does.
  ~ReceivedFile() { Keep(); }
  ReceivedFile(const ReceivedFile&) = delete;
  ReceivedFile& operator=(const ReceivedFile&) = delete;

  // Gets ready to receive into NAME: a link is followed to the file it names, which (if it exists)
  // is held against other sessions without being changed, as is NAME.partial. A device or pipe
  // given as NAME is written directly, as there is nothing to replace. false, with the reason on
  // standard error, when another session holds either file or they cannot be had.
  bool Open(const char* name);

  // Stores one accepted record and its line end. After the first failure nothing more is stored,
  // so that NAME.partial holds exactly the records before it.
  void Store(const char* record);

  // Syncs the received records to the disk and puts them in place of NAME, holding both files
  // until the rename is done. Says on standard output and error what went wrong and what NAME
  // holds, and returns false, when any step failed or no record was received; a message ends the
  // line of progress marks first.
  bool Commit(ProgressLine& progress);

  // Any end but a completed transfer: the records stored so far are kept and counted on standard
  // error; a partial file this session made and stored nothing in is taken away again. Everything
  // held is let go. Does nothing the second time.
  void Keep();

  // How the file a replace puts aside is kept (NAME~ unless the session says otherwise).
  void KeepReplacedAs(BackupControl control) { plan_.control = control; }
  // Says on standard error, in one line, what the committed replace changed.
  void ReportReplacedRecords() const {
    if (committed_) talven::ReportReplacedRecords(name_, plan_);
  }

  const char* name() const { return name_; }
  std::uint32_t stored() const { return stored_; }

 private:
  bool Fail(const char* what);
  bool CreatePartial();
  bool StartPartial();
  bool CheckAside();
  // The commit's last step: the partial file put in place of the target.
  // false with error 0 when the old file could not be kept, which was said.
  bool Replace(ProgressLine& progress, int& error, bool& targetGone);
  void ReportFailedCommit(ProgressLine& progress, int error, bool targetGone);
  void CloseAll();

  char name_[kFileNameMax + 1] = {};  // as the user gave it
  ReceivedNames names_;
  HeldFile guard_;    // the target
  HeldFile earlier_;  // an earlier session's partial file, until it is moved aside
  HeldFile partial_;  // this session's partial file
  int direct_ = -1;   // a device or pipe written directly
  bool opened_ = false;
  bool earlierLink_ = false;  // a link at the partial name: never written through, moved aside
  bool targetExisted_ = false;
  bool committed_ = false;
  bool kept_ = false;
  std::uint32_t stored_ = 0;
  std::uint64_t size_ = 0;
  int writeError_ = 0;
  const char* errorName_ = nullptr;  // the file a failed step acted on
  bool tornLine_ = false;            // a failed write left part of a line that could not be cut
  ReplacePlan plan_;                 // how the replaced file is kept, and what is said of it
};

}  // namespace talven
