// Decoded link settings and read waits mapped onto the Win32 structures: pure, so that every case
// is tested without a device.
#include <windows.h>

#include "serial/port_backend.h"

namespace talven::detail {

void ApplyToDcb(const LinkSettings& settings, DCB& dcb) {
  if (settings.baudRate) dcb.BaudRate = *settings.baudRate;
  // The enumerations are numbered as the DCB fields expect.
  if (settings.stopBits) dcb.StopBits = static_cast<BYTE>(*settings.stopBits);
  if (settings.parity) {
    dcb.Parity = static_cast<BYTE>(*settings.parity);
    const bool checking = settings.ParityChecking();
    dcb.fParity = checking ? 1 : 0;
    if (checking) dcb.ErrorChar = static_cast<char>(kErrorCharForParity);
  }
  if (settings.dataBits) dcb.ByteSize = *settings.dataBits;
  if (settings.dtr) dcb.fDtrControl = static_cast<DWORD>(*settings.dtr) & 3u;
  if (settings.rts) dcb.fRtsControl = static_cast<DWORD>(*settings.rts) & 3u;
  if (settings.ctsOutputFlow) dcb.fOutxCtsFlow = *settings.ctsOutputFlow ? 1 : 0;
  if (settings.dsrOutputFlow) dcb.fOutxDsrFlow = *settings.dsrOutputFlow ? 1 : 0;
  if (settings.xonXoff) {
    dcb.fOutX = *settings.xonXoff ? 1 : 0;
    dcb.fInX = *settings.xonXoff ? 1 : 0;
    dcb.fTXContinueOnXoff = 0;
  }

  // Always raw, as termios is set: whatever the last program left, every byte passes as sent
  // (NULs included), DSR does not gate input, and a line error neither stops later reads nor
  // replaces bytes unless parity is checked.
  dcb.fBinary = 1;
  dcb.fNull = 0;
  dcb.fDsrSensitivity = 0;
  dcb.fAbortOnError = 0;
  dcb.fErrorChar = dcb.fParity;
}

void SetReadWait(std::int32_t waitMs, COMMTIMEOUTS& timeouts) {
  // MAXDWORD, 0, 0 returns at once; MAXDWORD, MAXDWORD, n returns at the first byte, else after
  // n ms (n below MAXDWORD). A zero n there would mean no limit at all.
  timeouts.ReadIntervalTimeout = MAXDWORD;
  if (waitMs == 0) {
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    return;
  }
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = waitMs < 0 ? MAXDWORD - 1 : static_cast<DWORD>(waitMs);
}

}  // namespace talven::detail
