// One session: what it chose at setup and what it owns from then to the exit. The driver makes it
// and hands its parts down; nothing below the session keeps session state of its own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

#include "clone/received_file.h"
#include "clone/transfer.h"
#include "models/catalogue.h"
#include "process/port_number.h"
#include "records/clone_file.h"
#include "serial/line_exchange.h"
#include "serial/port.h"

namespace talven {

class WireTrace;

// What setup chose: filled from the command line, the prompts and the menus.
struct SessionConfig {
  ModelId model = kNoModel;
  PortNumber port = kNoPort;
  std::int32_t mode = kNoMode;
  // The clone file and how it is moved: what the transfer is handed.
  TransferSettings transfer;
  bool pauseOnExit = true;
  // A device named by path on the command line (POSIX); shown in the summary instead of the number.
  char portPath[kFileNameMax + 1] = {};

  // The catalogue row of the chosen model; only valid once a model is chosen.
  const ModelEntry& Model() const { return kModels[model]; }
};

struct Session {
  Session(WireTrace& wireTrace, const TransferOptions& transferOptions)
      : trace(wireTrace), ports(&trace) {
    config.transfer.options = transferOptions;
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Started or not by the program's main, which owns it; the port's bytes go to it.
  WireTrace& trace;
  SessionConfig config;
  PortRegistry ports;
  ReceivedFile received;
  // Once the port is open and set: the line to the scanner, and what the transfer is handed.
  std::optional<LineExchange> line;
  std::optional<CloneSession> clone;
};

}  // namespace talven
