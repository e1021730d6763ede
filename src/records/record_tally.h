// How two clone files differ, counted only: the pairing of --diff without its listing, for a
// replace to say what it changed.
#pragma once

#include <cstdio>

#include "records/record_diff.h"

namespace talven {

// Pairs every record of NEW with OLD's as --diff does and counts the outcomes into tally. false
// with errno set when either file could not be read.
bool TallyRecordFiles(std::FILE* oldFile, std::FILE* newFile, DiffTally& tally);

}  // namespace talven
