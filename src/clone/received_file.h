// The clone file of Slave mode. Received records go to NAME.partial; NAME itself is only ever
// replaced whole, by a transfer that completed with at least one record, so a failed or interrupted
// one cannot cost the user the backup that NAME held. A NAME.partial that an earlier session left
// is never emptied: it is moved to NAME.partial.1 once this session has a record of its own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talven {

inline constexpr char kPartialSuffix[] = ".partial";
inline constexpr char kAsideSuffix[] = ".1";

// "NAME.partial"; false when it does not fit.
bool PartialNameOf(const char* name, char* out, std::size_t capacity);

// Gets ready to receive into NAME: a link is followed to the file it names, which (if it exists)
// is held against other sessions without being changed, as is NAME.partial. A device or pipe
// given as NAME is written directly, as there is nothing to replace. false, with the reason on
// standard error, when another session holds either file or they cannot be had.
bool OpenReceivedFile(const char* name);

// Stores one accepted record and its line end. After the first failure nothing more is stored, so
// that NAME.partial holds exactly the records before it.
void StoreReceivedRecord(const char* record);

// Syncs the received records to the disk and puts them in place of NAME, holding both files until
// the rename is done. Says on standard output and error what went wrong and what NAME holds, and
// returns false, when any step failed or no record was received.
bool CommitReceivedFile();

}  // namespace talven
