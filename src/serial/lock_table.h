// The system's table of file locks, as Linux shows it in /proc/locks: whether another process holds
// a lock on a file. Opening a tty runs the driver's open, which raises DTR and RTS, before the
// exclusive flag or the lock can refuse a second opener; and root's open passes the exclusive flag.
// Looking the device up in the table first refuses a second session without touching the line.
#pragma once

#include <cstdint>
#include <string_view>

namespace talven {

struct LockedFile {
  std::uint32_t major = 0;  // of the file system that holds the file (st_dev), not of the device
  std::uint32_t minor = 0;
  std::uint64_t inode = 0;
};

// Whether a line of the table holds a lock on the file. Lines of processes waiting for a lock
// ("->") hold nothing; a line that cannot be read is passed over.
bool LockTableHolds(std::string_view table, const LockedFile& file);

}  // namespace talven
