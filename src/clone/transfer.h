// The floor of the transfers: the clone file, its records and the three ways of moving them over
// the line. Files here include this folder, the serial link and the ground below it, never the
// session.
//
// The three transfers. Each takes what the session handed it in a CloneSession, sets its stopwatch
// and answers how it ended; none ends the process.
#pragma once

#include <cstdint>
#include <cstdio>

#include "clock/clock.h"
#include "clone/received_file.h"
#include "clone/transfer_lines.h"
#include "models/catalogue.h"
#include "records/clone_file.h"
#include "storage/kept_backup.h"
#include "storage/owned_file.h"

namespace talven {

struct TransferOptions {
  // Master mode checks every record of the file before it sends the first (--no-verify: not).
  bool verifyBeforeSending = true;
  // Slave keeps the file it replaces as NAME~ (--backup=numbered: NAME.~N~; --no-backup: not).
  BackupControl backup = BackupControl::kSimple;
};

enum class TransferResult {
  kCompleted,
  kFailed,       // the result line says "error"
  kAbandoned,    // the reason is on standard error already; the session ends at once with -1
  kPortFailed,   // the port stopped working under the transfer (kPortStoppedText)
  kInterrupted,  // a signal arrived; the session ends at once with its status
};

// What setup chose for the transfer: the clone file and how it is moved. The session keeps the one
// copy; its transfer works on it.
struct TransferSettings {
  char fileName[kFileNameMax + 1] = {};
  // Master and Compare: the open clone file, closed with the session's settings.
  OwnedFile cloneFile;
  bool checksumRequired = false;
  std::uint16_t progressScale = 0;
  TransferOptions options;
};

// What a session hands its transfer: the line, the model, the clone file and the settings, and
// what the transfer keeps while it runs. The session owns it and what it refers to.
struct CloneSession {
  CloneSession(LineExchange& exchange, const ModelEntry& chosenModel, TransferSettings& chosen,
               ReceivedFile& receivedFile)
      : line(exchange), model(chosenModel), settings(chosen), received(receivedFile) {}

  TransferLine line;
  const ModelEntry& model;
  TransferSettings& settings;
  // Slave: the file the records go to.
  ReceivedFile& received;
  Stopwatch stopwatch;
};

TransferResult RunMaster(CloneSession& session);
TransferResult RunSlave(CloneSession& session);
TransferResult RunCompare(CloneSession& session);

// The result of a receive that ended without a line.
inline TransferResult LostLine(LineResult result) {
  return result == LineResult::kInterrupted ? TransferResult::kInterrupted
                                            : TransferResult::kPortFailed;
}

}  // namespace talven
