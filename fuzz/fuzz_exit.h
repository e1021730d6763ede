// The fuzz build's process exit: Terminate throws this back to the fuzz entry point instead of
// ending the process, so one input's fault ends only that input.
#pragma once

namespace talven::fuzz {

struct ProcessExit {
  int code;
};

}  // namespace talven::fuzz
