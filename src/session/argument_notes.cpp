#include "session/argument_notes.h"

#include <algorithm>
#include <cstdio>

namespace talven {

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// White space, an optional sign and digits, and nothing else.
bool IsWholeNumber(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && space(text[begin])) ++begin;
  while (end > begin && space(text[end - 1])) --end;
  if (begin < end && (text[begin] == '+' || text[begin] == '-')) ++begin;
  if (begin == end) return false;
  for (std::size_t i = begin; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

// The product codes of the models with compare, as "A, B and C".
void CompareModels(char* out, std::size_t capacity) {
  std::size_t count = 0;
  for (const ModelEntry& model : kModels) count += model.compareAllowed ? 1 : 0;
  std::size_t length = 0;
  std::size_t written = 0;
  out[0] = '\0';
  for (const ModelEntry& model : kModels) {
    if (!model.compareAllowed) continue;
    const char* joint = written == 0 ? "" : (written + 1 == count ? " and " : ", ");
    const int n =
        std::snprintf(out + length, capacity - length, "%s%.*s", joint,
                      static_cast<int>(model.productCode.size()), model.productCode.data());
    if (n < 0 || static_cast<std::size_t>(n) >= capacity - length) return;
    length += static_cast<std::size_t>(n);
    ++written;
  }
}

}  // namespace

bool ExplainModelWord(std::string_view word, ArgumentNote& note) {
  if (LookupByName(ModelNames, word) != kNoModel) return false;
  for (const NameRow* row = ModelNames + 1; !row->End(); ++row) {
    if (SameIgnoringCase(word, row->name)) {
      std::snprintf(note.data(), note.size(), "not a model name; names are in capitals: %s",
                    row->name.data());
      return true;
    }
  }
  for (const ModelEntry& model : kModels) {
    if (SameIgnoringCase(word, model.menuLabel)) {
      std::snprintf(note.data(), note.size(),
                    "the menu's name for model %c; as an argument give %.*s or %.*s", model.menuKey,
                    static_cast<int>(model.commandLineLabel.size()), model.commandLineLabel.data(),
                    static_cast<int>(model.productCode.size()), model.productCode.data());
      return true;
    }
  }
  std::snprintf(note.data(), note.size(),
                "not a model name; give a label or code that talven --help lists, e.g. QR140A or "
                "KM504R");
  return true;
}

bool ExplainModeWord(std::string_view word, ModelId model, ArgumentNote& note) {
  const std::uint8_t mode = LookupByName(ModeNames, word);
  if (mode == kCompare && !(model < kModelCount && kModels[model].compareAllowed)) {
    char models[64];
    CompareModels(models, sizeof models);
    if (model < kModelCount) {
      std::snprintf(note.data(), note.size(), "%.*s has no compare; it is for %s",
                    static_cast<int>(kModels[model].productCode.size()),
                    kModels[model].productCode.data(), models);
    } else {
      std::snprintf(note.data(), note.size(), "needs a known model; compare is for %s", models);
    }
    return true;
  }
  if (mode != kNoMode) return false;
  std::snprintf(note.data(), note.size(),
                "not a mode; give MASTER, SLAVE or COMPARE (in capitals)");
  return true;
}

bool ExplainPortWord(const PortWord& port, bool pathsAllowed, ArgumentNote& note) {
  if (port.kind == PortWordKind::kPath) return false;
  if (port.kind == PortWordKind::kNumber && port.rest.empty()) return false;
  const char* paths = pathsAllowed ? ", or a device path such as /dev/ttyUSB0" : "";
  if (port.kind == PortWordKind::kNumber) {
    std::snprintf(note.data(), note.size(),
                  "taken as port %d, the rest is not understood; give "
                  "a number n or COMn%s",
                  static_cast<int>(port.number), paths);
  } else {
    std::snprintf(note.data(), note.size(),
                  "not a port, taken as port %d; give a number n or COMn%s",
                  static_cast<int>(port.number), paths);
  }
  return true;
}

bool ExplainPauseWord(std::string_view word, ArgumentNote& note) {
  if (IsWholeNumber(word)) return false;
  std::snprintf(note.data(), note.size(),
                "not a number; give 1 to wait for a key at the end or 0 not to (no wait now)");
  return true;
}

bool LooksLikeSerialDeviceName(std::string_view word) {
  static constexpr std::string_view kPrefixes[] = {"tty", "cu.", "cua", "rfcomm"};
  for (const char c : word) {
    if (c == '/' || c == ' ' || (c >= '\t' && c <= '\r')) return false;
  }
  for (const std::string_view prefix : kPrefixes) {
    if (word.size() > prefix.size() && word.substr(0, prefix.size()) == prefix) return true;
  }
  return false;
}

void ExplainMissingDevice(std::string_view word, bool taken, ArgumentNote& note) {
  std::snprintf(note.data(), note.size(),
                "/dev/%.*s is not there (is the adapter plugged in?); talven --list-ports lists "
                "the serial ports there are%s",
                static_cast<int>(std::min<std::size_t>(word.size(), 60)), word.data(),
                taken ? "; taken as port 0" : "");
}

void ExplainTooManyArguments(int given, ArgumentNote& note) {
  std::snprintf(note.data(), note.size(),
                "%d given, at most 5 are taken (MODEL PORT MODE FILE PAUSE); all are ignored and "
                "everything is asked",
                given);
}

}  // namespace talven
