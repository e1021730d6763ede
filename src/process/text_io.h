// Text between the program and the user, in UTF-8 inside. On Windows a console takes and gives
// UTF-16 (WriteConsoleW, ReadConsoleW), whatever its code page; redirected streams carry the UTF-8
// bytes as they are.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace talven {

// Writes the text to the stream, after what the stream holds buffered.
void PrintText(std::FILE* stream, const char* text);

// The next byte of standard input, EOF at its end or on a failed read (errno as the read left it).
// A line typed at a Windows console comes as UTF-8 with LF as its end.
int ReadInputChar();
// Gives back the byte ReadInputChar returned last.
void UngetInputChar(int c);

// The command line's arguments, argv[0] first, in UTF-8. On Windows they are taken from the UTF-16
// command line, not from argv, whose bytes are in the ANSI code page with look-alikes for what it
// cannot hold.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace talven
