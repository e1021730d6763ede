// The clone file of Slave mode. Received records go to NAME.partial; NAME itself is only ever
// replaced whole, by a transfer that completed with at least one record, so a failed or interrupted
// one cannot cost the user the backup that NAME held. A NAME.partial that an earlier session left
// is never emptied: it is moved to NAME.partial.1 once this session has a record of its own, or
// removed then if it is empty (a session ended before its first record), as it holds nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "records/clone_file.h"
#include "storage/kept_backup.h"

namespace talven {

inline constexpr char kPartialSuffix[] = ".partial";
inline constexpr char kAsideSuffix[] = ".1";

struct ProgressLine;

// NAME, or the file its links end at, with room to spare.
inline constexpr std::size_t kPathMax = kFileNameMax + 64;

// What one session knows of its received file: held by the session, handed to the calls below.
struct ReceivedFile {
  ReceivedFile() = default;
  // Any end but a completed transfer keeps the records stored so far in the partial file and says
  // so; an empty partial file this session made is taken away. Every file is closed.
  ~ReceivedFile();
  ReceivedFile(const ReceivedFile&) = delete;
  // Only an empty one is assigned: OpenReceivedFile starts afresh.
  ReceivedFile& operator=(const ReceivedFile&) = default;

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
  bool tornLine = false;  // a failed write left part of a line that could not be cut off
  BackupControl backup =
      BackupControl::kSimple;           // how the replaced file is kept; set by the session
  char backupName[kPathMax + 32] = {};  // where it is kept; empty: nowhere
  std::string replaceNote;              // what the replace changed, said after the result
};

// "NAME.partial"; false when it does not fit.
bool PartialNameOf(const char* name, char* out, std::size_t capacity);

// Gets ready to receive into NAME: a link is followed to the file it names, which (if it exists)
// is held against other sessions without being changed, as is NAME.partial. A device or pipe
// given as NAME is written directly, as there is nothing to replace. false, with the reason on
// standard error, when another session holds either file or they cannot be had.
bool OpenReceivedFile(ReceivedFile& received, const char* name);

// Stores one accepted record and its line end. After the first failure nothing more is stored, so
// that NAME.partial holds exactly the records before it.
void StoreReceivedRecord(ReceivedFile& received, const char* record);

// Syncs the received records to the disk and puts them in place of NAME, holding both files until
// the rename is done. Says on standard output and error what went wrong and what NAME holds, and
// returns false, when any step failed or no record was received; a message ends the line of
// progress marks first.
bool CommitReceivedFile(ReceivedFile& received, ProgressLine& progress);

}  // namespace talven
