#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/result.h"
#include "platform/windows_codes.h"

namespace qlx::platform {

// Asked when an interruption wakes the wait for a child: true ends the child
// and everything it started, false goes on waiting.
using GiveUp = std::function<bool()>;

class Processes {
 public:
  virtual ~Processes() = default;
  // Starts the command line as a hidden child in a private directory of the
  // temporary directory, waits for its end and gives its exit code. Fails
  // with the Windows error code of the step that failed: the child could not
  // be started, or its exit code could not be read. The child and what it
  // starts are held together (a job object, a process group), so that giving
  // up ends them all.
  virtual Result<uint32_t> RunHidden(const std::string& command_line, const GiveUp& give_up) = 0;
  // Hands the line to the command interpreter ("/c" and the line) in the
  // console, in a private directory as above, and waits for it to end. An
  // interruption ends the interpreter and every process it started at once.
  virtual void RunCommandInterpreter(const std::string& line) = 0;
  // Where the command interpreter, started as the children are, would find
  // the program it is given by name (PATH, with PATHEXT on Windows): its
  // path, or ERROR_FILE_NOT_FOUND; ERROR_NOT_SUPPORTED where that cannot be
  // told (the Linux stand-ins, whose PATH is the rehearsal's own).
  virtual Result<std::string> WhereCmdFinds(const std::string& /*program*/) {
    return Failure{kErrorNotSupported};
  }
};

Processes& SystemProcesses();

}  // namespace qlx::platform
