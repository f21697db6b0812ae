#pragma once

#include <cstdint>
#include <string>

namespace qlx::platform {

// How a hidden program run ended: either the child's exit code, or the Windows
// error code of the step that failed (the child could not be started, or its
// exit code could not be read).
struct ProgramOutcome {
  bool failed = false;
  uint32_t code = 0;
};

class Processes {
 public:
  virtual ~Processes() = default;
  // Starts the command line as a hidden child with the temporary directory as
  // its working directory and waits for its end.
  virtual ProgramOutcome RunHidden(const std::string& command_line) = 0;
  // Hands the line to the command interpreter ("/c" and the line) in the
  // current directory and console, and waits for it to end.
  virtual void RunCommandInterpreter(const std::string& line) = 0;
};

Processes& SystemProcesses();

}  // namespace qlx::platform
