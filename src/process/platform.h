// Small differences between the systems the program runs on.
#pragma once

namespace talven {

// Standard output is unbuffered on a console, so every prompt shows before a wait, and buffered in
// 512-byte blocks when redirected.
void ConfigureStandardOutput();

// True where a port may be named by its device path ("/dev/ttyUSB0"), which only POSIX systems do.
bool DevicePathsAllowed();

// True when standard output and standard error end in the same place (one terminal or console,
// one file, one pipe), where a line one leaves unfinished is the line the other writes on.
bool ErrorsShareStandardOutput();

// True when standard input is a terminal or console, which echoes the line end of each answer.
bool StandardInputIsTerminal();

}  // namespace talven
