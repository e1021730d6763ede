#include <cstdio>

#include "process/text_io.h"

namespace talven {

void PrintText(std::FILE* stream, const char* text) {
  std::fputs(text, stream);
}

int ReadInputChar() {
  return std::fgetc(stdin);
}

void UngetInputChar(int c) {
  std::ungetc(c, stdin);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace talven
