#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace simscanner {

namespace {

constexpr char kHelp[] =
    "Usage: talven-simscanner --role master|slave (--pty | --device PATH) [options]\n"
    "\n"
    "Plays a scanner's side of a clone transfer over a serial line, for testing talven.\n"
    "\n"
    "Roles:\n"
    "  --role master      the scanner is the clone master: sends MDL, every record as\n"
    "                     \"CLN <record>\", optionally SUM, then END\n"
    "  --role slave       the scanner is the clone slave: answers MDL with its identity,\n"
    "                     OK/NG to each record and to SUM, stops at END\n"
    "\n"
    "Line:\n"
    "  --pty              make a pseudo-terminal; its path is printed first on stdout as\n"
    "                     \"PTY /dev/pts/N\"; the session starts once the peer opens it\n"
    "  --device PATH      use this serial device (raw, 8N1)\n"
    "  --baud B           speed for --device (default 115200)\n"
    "  --baud-pacing B    pace what is sent to B baud, 10 bits a byte (default: no pacing)\n"
    "  --start-timeout S  seconds to wait for the peer to show up (default 30)\n"
    "  --delay-ms MS      pause before the first command as master (default 0)\n"
    "  --timeout-ms MS    limit of every other wait for the peer (default 10000)\n"
    "\n"
    "Records (master):\n"
    "  --records FILE     send the records of this clone file\n"
    "  --generate N       send N generated valid records with keys 0000, 0001, ...\n"
    "  --body-length L    characters before \"~\" in a generated record (default 48)\n"
    "  --seed S           seed of the generated contents (default 1)\n"
    "  --high-bytes       generated contents also use bytes 0xA0-0xFE\n"
    "  --save-records FILE\n"
    "                     first write the records to be sent as a clone file\n"
    "  --sum              send \"SUM <hex>\" of the records' checksum fields before END\n"
    "  --max-sends N      sends of one record before giving up (default 10)\n"
    "  --identity TEXT    master: the identity the peer must answer to MDL (default: any)\n"
    "                     slave: the answer to MDL (default QRFAMTK00)\n"
    "\n"
    "Received records (slave):\n"
    "  --out FILE         write the accepted records as a clone file (CR LF)\n"
    "\n"
    "Faults:\n"
    "  --corrupt K        master: send a corrupt copy of each of the first K records first\n"
    "  --corrupt-first    the same as --corrupt 1\n"
    "  --lf-after-cr      send LF after every CR\n"
    "  --wrong-sum        master (with --sum): send a wrong SUM; slave: refuse the SUM\n"
    "  --reject-first K   slave: refuse the first K records received\n"
    "  --reject-reply T   slave: the refusal sent for --reject-first (default NG)\n"
    "  --silent-after N   stop sending (master) or answering (slave) after N records\n"
    "\n"
    "  -v, --verbose      log every line on stderr\n"
    "  -h, --help         this text\n"
    "\n"
    "Exit status: 0 when the session played was complete and consistent, 1 when not,\n"
    "2 on a usage error.\n"
    "\n"
    "Example: talven receives 100 generated records in Slave mode\n"
    "  talven-simscanner --role master --pty --generate 100 &    # prints PTY /dev/pts/N\n"
    "  talven KM504R /dev/pts/N SLAVE out.txt 0\n";

bool ParseNumber(const char* text, std::uint64_t max, std::uint64_t& value) {
  if (text == nullptr || *text == '\0' || *text == '-') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || parsed > max) return false;
  value = parsed;
  return true;
}

template <typename T>
bool ParseInto(const char* text, T& field) {
  std::uint64_t value = 0;
  if (!ParseNumber(text, std::numeric_limits<T>::max(), value)) return false;
  field = static_cast<T>(value);
  return true;
}

constexpr const char* kValuedOptions[] = {
    "--role",     "--device",       "--baud",         "--baud-pacing",  "--start-timeout",
    "--delay-ms", "--timeout-ms",   "--records",      "--generate",     "--body-length",
    "--seed",     "--max-sends",    "--identity",     "--save-records", "--out",
    "--corrupt",  "--reject-first", "--reject-reply", "--silent-after",
};

bool TakesValue(const std::string& name) {
  for (const char* option : kValuedOptions) {
    if (name == option) return true;
  }
  return false;
}

// The options that take a value, and where the value goes.
bool ApplyValued(Options& o, const std::string& name, const char* value, std::string& error) {
  bool ok = true;
  if (name == "--role") {
    if (std::strcmp(value, "master") == 0) {
      o.role = Role::kMaster;
    } else if (std::strcmp(value, "slave") == 0) {
      o.role = Role::kSlave;
    } else {
      ok = false;
    }
  } else if (name == "--device") {
    o.device = value;
    ok = !o.device.empty();
  } else if (name == "--baud") {
    ok = ParseInto(value, o.baud) && o.baud > 0;
  } else if (name == "--baud-pacing") {
    ok = ParseInto(value, o.pacingBaud) && o.pacingBaud > 0;
  } else if (name == "--start-timeout") {
    std::uint32_t seconds = 0;
    ok = ParseInto(value, seconds) && seconds <= 86400;
    o.startTimeoutMs = seconds * 1000;
  } else if (name == "--delay-ms") {
    ok = ParseInto(value, o.delayMs);
  } else if (name == "--timeout-ms") {
    ok = ParseInto(value, o.timeoutMs) && o.timeoutMs > 0;
  } else if (name == "--records") {
    o.recordsFile = value;
  } else if (name == "--generate") {
    ok = ParseInto(value, o.generateCount);
    o.generate = true;
  } else if (name == "--body-length") {
    ok = ParseInto(value, o.bodyLength) && o.bodyLength < 4000;
  } else if (name == "--seed") {
    ok = ParseInto(value, o.seed);
  } else if (name == "--max-sends") {
    ok = ParseInto(value, o.maxSends) && o.maxSends > 0;
  } else if (name == "--identity") {
    o.identity = value;
  } else if (name == "--save-records") {
    o.saveRecords = value;
  } else if (name == "--out") {
    o.out = value;
  } else if (name == "--corrupt") {
    ok = ParseInto(value, o.corruptCount);
  } else if (name == "--reject-first") {
    ok = ParseInto(value, o.rejectCount);
  } else if (name == "--reject-reply") {
    o.rejectReply = value;
  } else if (name == "--silent-after") {
    std::uint32_t count = 0;
    ok = ParseInto(value, count);
    o.silentAfter = count;
  } else {
    error = "unknown option " + name;
    return false;
  }
  if (!ok) error = "bad value for " + name + ": \"" + value + "\"";
  return ok;
}

bool ApplyFlag(Options& o, const std::string& name, bool& help) {
  if (name == "--pty") {
    o.makePty = true;
  } else if (name == "--sum") {
    o.sendSum = true;
  } else if (name == "--high-bytes") {
    o.highBytes = true;
  } else if (name == "--corrupt-first") {
    o.corruptCount = 1;
  } else if (name == "--lf-after-cr") {
    o.lfAfterCr = true;
  } else if (name == "--wrong-sum") {
    o.wrongSum = true;
  } else if (name == "--verbose" || name == "-v") {
    o.verbose = true;
  } else if (name == "--help" || name == "-h") {
    help = true;
  } else {
    return false;
  }
  return true;
}

// Combinations that cannot make a session.
std::string CheckConsistency(const Options& o) {
  if (o.role == Role::kNone) return "--role master or --role slave is required";
  if (o.makePty == !o.device.empty()) return "give exactly one of --pty and --device PATH";
  if (o.role == Role::kMaster) {
    if (o.generate == !o.recordsFile.empty()) {
      return "as master give one of --records and --generate";
    }
    if (!o.out.empty()) return "--out is for the slave role";
    if (o.rejectCount > 0) return "--reject-first is for the slave role";
    if (o.wrongSum && !o.sendSum) return "--wrong-sum as master needs --sum";
  } else {
    if (o.generate || !o.recordsFile.empty()) {
      return "--records and --generate are for the master role";
    }
    if (o.corruptCount > 0 || o.sendSum || !o.saveRecords.empty()) {
      return "--corrupt, --sum and --save-records are for the master role";
    }
  }
  return {};
}

}  // namespace

ParseResult ParseOptions(int argc, char** argv) {
  ParseResult result;
  Options& o = result.options;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    const char* value = nullptr;
    std::string inlineValue;
    if (const std::size_t eq = name.find('=');
        name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      name.resize(eq);
      value = inlineValue.c_str();
    }
    if (value == nullptr && ApplyFlag(o, name, result.help)) continue;
    if (!TakesValue(name)) {
      result.error = (name.rfind("-", 0) == 0 ? "unknown option " : "unexpected argument ") + name;
      return result;
    }
    if (value == nullptr) {
      if (i + 1 >= argc) {
        result.error = name + " needs a value";
        return result;
      }
      value = argv[++i];
    }
    if (!ApplyValued(o, name, value, result.error)) return result;
  }
  if (result.help) return result;
  result.error = CheckConsistency(o);
  if (o.role == Role::kSlave && o.identity.empty()) o.identity = "QRFAMTK00";
  return result;
}

void PrintHelp(std::FILE* out) {
  std::fputs(kHelp, out);
}

}  // namespace simscanner
