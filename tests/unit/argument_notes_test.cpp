#include "session/argument_notes.h"

#include <gtest/gtest.h>

#include <string>

namespace talven {
namespace {

// The reason given for a word, or "" when the word is taken as it is.
std::string ModelNote(const char* word) {
  ArgumentNote note{};
  return ExplainModelWord(word, note) ? note.data() : "";
}
std::string ModeNote(const char* word, ModelId model) {
  ArgumentNote note{};
  return ExplainModeWord(word, model, note) ? note.data() : "";
}
std::string PortNote(const char* word, bool paths) {
  ArgumentNote note{};
  return ExplainPortWord(ReadPortWord(word, paths), paths, note) ? note.data() : "";
}
std::string MissingNote(const char* word, bool taken) {
  ArgumentNote note{};
  if (!LooksLikeSerialDeviceName(word)) return "";
  ExplainMissingDevice(word, taken, note);
  return note.data();
}
std::string PauseNote(const char* word) {
  ArgumentNote note{};
  return ExplainPauseWord(word, note) ? note.data() : "";
}

struct NoteCase {
  std::string note;
  std::string expected;
};

class ArgumentNoteTest : public ::testing::TestWithParam<NoteCase> {};

TEST_P(ArgumentNoteTest, SaysWhatIsAccepted) {
  EXPECT_EQ(GetParam().note, GetParam().expected);
}

const std::string kCompareModels = "KM504R, KM503R and KM524R";
const std::string kNotAPort = "not a port, taken as port 0; give a number n or COMn";

INSTANTIATE_TEST_SUITE_P(
    Words, ArgumentNoteTest,
    ::testing::Values(
        NoteCase{ModelNote("KM504R"), ""}, NoteCase{ModelNote("QR450A"), ""},
        NoteCase{ModelNote("qr140a"), "not a model name; names are in capitals: QR140A"},
        NoteCase{ModelNote("km525r"), "not a model name; names are in capitals: KM525R"},
        NoteCase{ModelNote("QR450PL"),
                 "the menu's name for model f; as an argument give QR450A or KM536R"},
        NoteCase{ModelNote("NOSUCH"),
                 "not a model name; give a label or code that talven --help lists, e.g. QR140A "
                 "or KM504R"},
        NoteCase{ModeNote("SLAVE", kNoModel), ""}, NoteCase{ModeNote("COMPARE", 11), ""},
        NoteCase{ModeNote("slave", 0), "not a mode; give MASTER, SLAVE or COMPARE (in capitals)"},
        NoteCase{ModeNote("COMPARE", 4), "KM506R has no compare; it is for " + kCompareModels},
        NoteCase{ModeNote("COMPARE", kNoModel),
                 "needs a known model; compare is for " + kCompareModels},
        NoteCase{PortNote("COM3", false), ""}, NoteCase{PortNote("-4", true), ""},
        NoteCase{PortNote("/dev/ttyUSB0", true), ""},
        NoteCase{PortNote("3x", false),
                 "taken as port 3, the rest is not understood; give a number n or COMn"},
        NoteCase{PortNote("ttyUSB0", true), kNotAPort + ", or a device path such as /dev/ttyUSB0"},
        NoteCase{MissingNote("ttyUSB0", true),
                 "/dev/ttyUSB0 is not there (is the adapter plugged in?); talven --list-ports "
                 "lists the serial ports there are; taken as port 0"},
        NoteCase{MissingNote("cu.usbserial-10", false),
                 "/dev/cu.usbserial-10 is not there (is the adapter plugged in?); talven "
                 "--list-ports lists the serial ports there are"},
        NoteCase{MissingNote("tty", true), ""}, NoteCase{MissingNote("stdin", true), ""},
        NoteCase{MissingNote("ttyS0/x", true), ""}, NoteCase{MissingNote("ttyS 0", true), ""},
        NoteCase{PauseNote("0"), ""}, NoteCase{PauseNote(" 1"), ""},
        NoteCase{PauseNote("yes"),
                 "not a number; give 1 to wait for a key at the end or 0 not to (no wait now)"}));

}  // namespace
}  // namespace talven
