// The one way a user's file is opened for writing (the received records, the wire trace, the
// mismatch log): never emptied before it is held, never through a link, and refused while another
// session holds it. Held means an exclusive lock on POSIX and a handle that shares no writing on
// Windows; the hold lasts until the file is closed, moved or removed through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

namespace talven {

enum class OpenRule {
  kNew,           // created here; EEXIST when anything is at the name
  kExisting,      // a plain file that is there; ENOENT when nothing is
  kNewOrExisting  // either; created() tells which
};

class HeldFile {
 public:
  HeldFile() = default;
  ~HeldFile() { Close(); }
  HeldFile(HeldFile&& other) noexcept { *this = std::move(other); }
  HeldFile& operator=(HeldFile&& other) noexcept;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // Opens the plain file at name for reading and writing as the rule says, and holds it. Nothing in
  // it is changed. A link at the name is refused (ELOOP): a caller that follows links resolves
  // them first. false with errno set: EBUSY while another session holds the file (or the name came
  // to stand for another file while it was taken), EISDIR for a folder, EEXIST for a device or a
  // pipe. A file this call created is left to a session that took hold of it first. ownerOnly
  // creates it readable and writable by its owner alone, for a caller that sets its access next.
  bool Open(const char* name, OpenRule rule, bool ownerOnly = false);
  bool IsOpen() const { return fd_ >= 0; }
  bool created() const { return created_; }
  const char* name() const { return name_.c_str(); }
  // The descriptor writes and syncs go through (on Windows the C runtime's, over the handle).
  int fd() const { return fd_; }

  // Whether the path names this file now, links followed; false when it names another or none.
  bool IsAt(const char* path) const;
  // Reads up to capacity bytes from the start of the file into out; false with errno set.
  bool ReadStart(char* out, std::size_t capacity, std::size_t& got) const;
  // Empties the file; false with errno set.
  bool Empty();
  // The file's size now; false with errno set when it cannot be had.
  bool Size(std::uint64_t& size) const;

  // Renames the file, replacing what `to` held, without letting go of it: no other session can
  // take it between. The name held is `to` afterwards.
  bool MoveTo(const char* to);
  // Removes the file from its folder, then lets go of it.
  bool Remove();
  // Ends the hold, closing the file; nothing when none is held.
  void Close();
  // Hands the descriptor, and with it the hold, to the caller; the object is closed afterwards.
  int Release() {
    created_ = false;
    return std::exchange(fd_, -1);
  }
  // A stream over the file for writing at its current end, which takes the hold with it.
  std::FILE* ReleaseAsStream();

 private:
  int fd_ = -1;
  bool created_ = false;
  std::string name_;
};

}  // namespace talven
