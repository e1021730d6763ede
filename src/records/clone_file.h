// The clone file's text format, the same on every platform: written lines end in CR LF; on reading
// every CR is dropped and a 0x1A byte ends the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace talven {

inline constexpr unsigned char kEndOfFileMark = 0x1A;

// A clone file's name holds at most this many characters.
inline constexpr std::size_t kFileNameMax = 1023;

// Reads one line up to and including its LF into buffer, at most capacity - 1 characters,
// NUL-terminated. Returns the number of characters stored; 0 at the end of the text.
std::size_t ReadTextLine(std::FILE* file, char* buffer, std::size_t capacity);
// As above, and adds to consumed every byte taken from the file, dropped CRs included.
std::size_t ReadTextLine(std::FILE* file, char* buffer, std::size_t capacity,
                         std::uint64_t& consumed);

// Writes text, storing each LF as CR LF. Returns false when the stream reports an error.
bool WriteText(std::FILE* file, const char* text, std::size_t length);
bool WriteText(std::FILE* file, const char* text);

// Opens a clone file: "r" for reading, "w" for writing; binary underneath, translation is ours.
std::FILE* OpenTextFile(const char* name, const char* mode);

// As OpenTextFile, and while the file stays open no other talven session may empty it, nor read it
// while this one writes it: a second session on the same file fails here with EBUSY instead of
// destroying records the first has already answered "OK". "w" empties the file only once that
// holds. "r+" takes the same hold on an existing file without changing it.
std::FILE* OpenSessionFile(const char* name, const char* mode);

// Standard input as the file to read, byte for byte (no line end translation on Windows), for a
// name of "-". Never closed by its reader.
std::FILE* StandardInputBytes();

// A stream over the file's bytes as they are now, which nothing outside the process can change
// until the session ends; the stream's position is at the start. Read from the current position of
// file, which may be a pipe. On POSIX the bytes are read into memory (clone files are small); on
// Windows a file on disk is that stream already, as its share mode keeps writers out, and is
// returned rewound, while a pipe or a device is copied to a scratch file. The bytes are kept in
// storage, which must outlive the stream. nullptr with errno set when the file cannot be read,
// EFBIG when it holds more than kKeptBytesMax bytes (a device or a pipe that never ends). A signal
// while a pipe keeps the read waiting ends the program as that signal.
inline constexpr std::size_t kKeptBytesMax = std::size_t{256} << 20;
std::FILE* KeepFileBytes(std::FILE* file, std::vector<char>& storage);

// Counts the lines a text reader yields (4095 characters per read at most), in 16 bits as the
// progress scale wants it: the count wraps from 65535 to 0. Returns false when the file cannot be
// opened.
bool CountTextLines(const char* name, std::uint16_t& count);

}  // namespace talven
