// The system-independent part of the port listing: printing and the orderings and names it uses.
#include <algorithm>
#include <charconv>
#include <cstring>

#include "discovery/port_list.h"
#include "process/text_io.h"
#include "serial/port.h"

namespace talven {
namespace {

// Splits "ttyUSB12" into "ttyUSB" and 12; a name without trailing digits has no number (-1).
std::pair<std::string_view, long> SplitTrailingNumber(std::string_view name) {
  std::size_t start = name.size();
  while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') --start;
  if (start == name.size() || name.size() - start > 9) return {name, -1};
  long number = 0;
  std::from_chars(name.data() + start, name.data() + name.size(), number);
  return {name.substr(0, start), number};
}

}  // namespace

bool DeviceNameBefore(std::string_view a, std::string_view b) {
  const auto [stemA, numberA] = SplitTrailingNumber(a);
  const auto [stemB, numberB] = SplitTrailingNumber(b);
  if (stemA != stemB) return stemA < stemB;
  if (numberA != numberB) return numberA < numberB;
  return a < b;
}

int ComPortNumber(std::string_view name) {
  if (name.size() < 4 || name.size() > 6 || name.substr(0, 3) != "COM") return 0;
  int number = 0;
  const char* first = name.data() + 3;
  const char* last = name.data() + name.size();
  if (*first == '0') return 0;
  const auto [end, error] = std::from_chars(first, last, number);
  if (error != std::errc{} || end != last) return 0;
  return number >= kFirstPort && number <= kLastPort ? number : 0;
}

void PrintPortList(std::FILE* out, const std::vector<PortListing>& ports) {
  if (ports.empty()) {
    std::fprintf(out, "No serial ports found. Is the serial or USB-serial cable plugged in?\n");
    return;
  }
  std::size_t width = 0;
  for (const PortListing& port : ports) width = std::max(width, port.argument.size());
  for (const PortListing& port : ports) {
    if (port.description.empty()) {
      std::fprintf(out, "%s\n", port.argument.c_str());
    } else {
      // A device's name may be in any language: written as the console takes it.
      std::fprintf(out, "%-*s  ", static_cast<int>(width), port.argument.c_str());
      PrintText(out, (port.description + "\n").c_str());
    }
  }
}

}  // namespace talven
