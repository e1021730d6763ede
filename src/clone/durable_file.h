// What it takes for a file to survive a crash or a power cut: its data synced to the disk, and a
// finished file put in place of the old one in one step.
#pragma once

#include <cstdio>

namespace talven {

// Flushes the stream and has the system write its data to the disk. false with errno set on
// failure.
bool SyncFile(std::FILE* file);

// Puts the closed file `from` in place of `to` in one step, replacing what `to` held, and makes the
// change itself durable. false with errno set when it failed: `to` is then unchanged, unless only
// the folder's sync failed after the rename.
bool ReplaceFileDurably(const char* from, const char* to);

// Creates a new file for writing; fails with EEXIST rather than touch a file that is there.
std::FILE* CreateNewFile(const char* name);

}  // namespace talven
