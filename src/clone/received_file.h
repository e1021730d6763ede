// The clone file of Slave mode. Received records go to NAME.partial; NAME itself is only ever
// replaced whole, by a transfer that completed, so a failed or interrupted one cannot cost the user
// the backup that NAME held.
#pragma once

#include <cstddef>
#include <cstdio>

namespace talven {

inline constexpr char kPartialSuffix[] = ".partial";

// "NAME.partial"; false when it does not fit.
bool PartialNameOf(const char* name, char* out, std::size_t capacity);

// Opens NAME.partial for writing (created or emptied) and holds NAME, if it exists, against other
// sessions without changing it. A device or pipe given as NAME is written directly, as there is
// nothing to replace. nullptr with errno set when either cannot be had.
std::FILE* OpenReceivedFile(const char* name);

// Syncs the received records to the disk, closes the file and puts it in place of NAME. false with
// errno set on any failure; NAME is then unchanged and the records stay in NAME.partial, unless
// only the folder's sync after the rename failed.
bool CommitReceivedFile(std::FILE*& file);

}  // namespace talven
