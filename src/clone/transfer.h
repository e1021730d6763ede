// The floor of the transfers: the clone file, its records and the three ways of moving them over
// the line. Files here include this folder, the serial link and the ground below it, never the
// session.
//
// The three transfers. Each reads the SessionConfig, sets the Stopwatch and answers true when the
// transfer completed; a fault that leaves no way on ends the process through Terminate(-1).
#pragma once

namespace talven {

struct TransferOptions {
  // Master mode checks every record of the file before it sends the first (--no-verify: not).
  bool verifyBeforeSending = true;
};
extern TransferOptions gTransferOptions;

bool RunMaster();
bool RunSlave();
bool RunCompare();

}  // namespace talven
