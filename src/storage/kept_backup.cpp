#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "storage/kept_backup.h"

namespace talven {

bool ParseBackupControl(std::string_view word, BackupControl& control) {
  struct Word {
    std::string_view text;
    BackupControl control;
  };
  static constexpr Word kWords[] = {{"simple", BackupControl::kSimple},
                                    {"numbered", BackupControl::kNumbered}};
  for (const Word& known : kWords) {
    if (known.text == word) {
      control = known.control;
      return true;
    }
  }
  return false;
}

std::uint64_t BackupNumberOf(std::string_view base, std::string_view entry) {
  if (entry.size() < base.size() + 4 || entry.substr(0, base.size()) != base) return 0;
  std::string_view rest = entry.substr(base.size());
  if (rest.substr(0, 2) != ".~" || rest.back() != '~') return 0;
  rest = rest.substr(2, rest.size() - 3);
  std::uint64_t number = 0;
  for (const char digit : rest) {
    if (digit < '0' || digit > '9' || number > (UINT64_MAX - 9) / 10) return 0;
    number = number * 10 + static_cast<std::uint64_t>(digit - '0');
  }
  return number;
}

bool BackupNameOf(const char* target, BackupControl control, char* out, std::size_t capacity) {
  std::uint64_t number = 0;
  if (control == BackupControl::kNumbered) {
    // The names are UTF-8 on every system, as the folder's entries are read back.
    const std::string_view given(target);
    const std::filesystem::path path(std::u8string(given.begin(), given.end()));
    const std::u8string base8 = path.filename().u8string();
    const std::string base(base8.begin(), base8.end());
    std::error_code error;
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
      std::string name;
      try {
        const std::u8string name8 = entry->path().filename().u8string();
        name.assign(name8.begin(), name8.end());
      } catch (const std::exception&) {
        continue;  // a name that is no text is no name of ours
      }
      const std::uint64_t found = BackupNumberOf(base, name);
      if (found > number) number = found;
    }
    if (error) {
      errno = error.value() != 0 ? error.value() : EIO;
      return false;
    }
  }
  const int length = control == BackupControl::kNumbered
                         ? std::snprintf(out, capacity, "%s.~%llu~", target,
                                         static_cast<unsigned long long>(number + 1))
                         : std::snprintf(out, capacity, "%s~", target);
  if (length >= 0 && static_cast<std::size_t>(length) < capacity) return true;
  errno = ENAMETOOLONG;
  return false;
}

}  // namespace talven
