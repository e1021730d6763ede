// The three transfers. Each reads the SessionConfig, sets the Stopwatch and answers 1 (success) or
// 0 (failure); a fault that leaves no way on ends the process through Terminate(-1).
#pragma once

namespace talven {

struct TransferOptions {
  // Master mode checks every record of the file before it sends the first (--no-verify: not).
  bool verifyBeforeSending = true;
};
extern TransferOptions gTransferOptions;

int RunMaster();
int RunSlave();
int RunCompare();

}  // namespace talven
