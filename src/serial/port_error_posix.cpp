// errno values worded for users and sorted into faults.
#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "serial/port_backend.h"
#include "serial/port_error.h"

namespace talven::detail {
namespace {

// The usual cure on Linux is membership of the group that owns the device ("dialout" on most
// distributions); a device only root may open needs more than that.
void RecordAccessDenied(PortError& error, int code, const char* path) {
  struct stat info {};
  const group* owner = stat(path, &info) == 0 && info.st_gid != 0 ? getgrgid(info.st_gid) : nullptr;
#ifdef __linux__
  if (owner != nullptr) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "permission denied (add your user to the '%s' group: sudo usermod -aG %s "
                  "$USER, then log out and in again)",
                  owner->gr_name, owner->gr_name);
    error.Record(code, text, PortFault::kNoPermission);
    return;
  }
#else
  (void)owner;
#endif
  error.Record(code, "permission denied", PortFault::kNoPermission);
}

}  // namespace

void RecordOpenError(PortError& error, int code, const char* path) {
  switch (code) {
    case ENOENT:
      error.Record(code, "no such device", PortFault::kNotFound);
      break;
    case ENXIO:
    case ENODEV:
    case EIO:
      // A serial port slot with no hardware behind it opens this way.
      error.Record(code, "no such device (nothing answers at this port)", PortFault::kNotFound);
      break;
    case EBUSY:
    case EWOULDBLOCK:
      error.Record(code, "in use by another program", PortFault::kInUse);
      break;
    case EACCES:
    case EPERM:
      RecordAccessDenied(error, code, path);
      break;
    case ENOTTY:
      error.Record(code, "not a serial device");
      break;
    default:
      RecordSystemError(error, code);
      break;
  }
}

void RecordSystemError(PortError& error, int code) {
  error.Record(code, std::strerror(code),
               DeviceGone(code) ? PortFault::kVanished : PortFault::kOther);
}

bool DeviceGone(int code) {
  return code == EIO || code == ENXIO || code == ENODEV || code == EPIPE;
}

}  // namespace talven::detail
