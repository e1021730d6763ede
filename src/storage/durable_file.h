// What it takes for a file to survive a crash or a power cut: its data synced to the disk, and a
// finished file put in place of the old one in one step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "storage/held_file.h"

namespace talven {

// Flushes the stream and has the system write its data to the disk. false with errno set on
// failure.
bool SyncFile(std::FILE* file);

// Has the folder that holds `path` write its entries to the disk (on Windows, which syncs no
// folder: the file at `path`, its metadata with it); true where folders cannot be synced.
bool SyncFolderOf(const char* path);

// Creates a new file for writing; fails with EEXIST rather than touch a file that is there.
std::FILE* CreateNewFile(const char* name);

// Files written by descriptor, a whole record per call, so that what the file holds is exactly what
// was written. Every call returns false (or -1) with errno set on failure.

// Opens a device or a pipe for writing.
int OpenForWriting(const char* name);
bool WriteWhole(int fd, const char* data, std::size_t size);
bool CutFileTo(int fd, std::uint64_t size);
bool SyncDescriptor(int fd);
// Gives `to`, a file made to stand in for `from`, the owner and group of `from` as far as the
// process may, its extended attributes (an access control list among them) and then its mode. An
// attribute that cannot be copied is named on standard error; when it was the access control list,
// the group's bits are left out of the mode, so that `to` is open to no more users than `from` was.
// Nothing on Windows, whose replace carries all of this over.
void TakeAccessOf(int from, int to, const char* toName);
void CloseDescriptor(int& fd);
// Renames, replacing what `to` held (a file moved aside).
bool MoveFileAside(const char* from, const char* to);
// The commit: from's file is put in place of `to` (held by toFile, or closed) in one step, keeping
// what the system keeps of the replaced file. The folder is not synced here (SyncFolderOf). On
// success both are closed; on failure errno is set, the holds last where the system allows it,
// and targetGone says whether the system took `to` away before it failed (Windows only).
bool ReplaceHeldFile(HeldFile& fromFile, HeldFile& toFile, const char* to, bool& targetGone);
// The file a chain of symbolic links ends at (the name itself when it is no link); false when it
// does not fit or the chain does not end.
bool ResolveLinks(const char* name, char* out, std::size_t capacity);

#ifndef _WIN32
// Whether the open file fd is still the one the path names, links followed: a session that
// committed in between has put another file there. false with errno set, EBUSY when the path
// names another file.
bool IsFileAtPath(int fd, const char* name);
#endif

}  // namespace talven
