// Why a command-line word was not taken: the reason of a "talven: WORD: reason" line on standard
// error. Setup then goes on as before (a menu or prompt asks); the line only says what happened and
// what is accepted. Pure functions of the words, so every message is unit-tested.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "models/catalogue.h"
#include "session/parse.h"

namespace talven {

using ArgumentNote = std::array<char, 200>;

// Each answers false, leaving the note alone, when the word is understood.
bool ExplainModelWord(std::string_view word, ArgumentNote& note);
bool ExplainModeWord(std::string_view word, ModelId model, ArgumentNote& note);
bool ExplainPortWord(const PortWord& port, bool pathsAllowed, ArgumentNote& note);
bool ExplainPauseWord(std::string_view word, ArgumentNote& note);

// A bare serial device name ("ttyUSB0", "cu.usbserial-10") whose device is not under /dev, as when
// the adapter is not plugged in: that leads the note, with where to see the ports there are.
// False for a word that does not look like a serial device's name. Setup looks for the device.
bool LooksLikeSerialDeviceName(std::string_view word);
void ExplainMissingDevice(std::string_view word, bool taken, ArgumentNote& note);

// The reason for a "talven: arguments: ..." line when six or more, all ignored, were given.
void ExplainTooManyArguments(int given, ArgumentNote& note);

}  // namespace talven
