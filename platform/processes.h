#pragma once

#include <cstdint>
#include <string>

#include "platform/result.h"

namespace qlx::platform {

class Processes {
 public:
  virtual ~Processes() = default;
  // Starts the command line as a hidden child with the temporary directory as
  // its working directory, waits for its end and gives its exit code. Fails
  // with the Windows error code of the step that failed: the child could not
  // be started, or its exit code could not be read.
  virtual Result<uint32_t> RunHidden(const std::string& command_line) = 0;
  // Hands the line to the command interpreter ("/c" and the line) in the
  // current directory and console, and waits for it to end. The interpreter
  // and what it starts are held together (a job object, a process group), so
  // that EndCommandInterpreters can end them all.
  virtual void RunCommandInterpreter(const std::string& line) = 0;
  // Ends the command interpreter that is running, with every process it
  // started, and refuses to start another for the rest of the process's
  // life. Safe from any thread; returns once they are ended or were asked to.
  virtual void EndCommandInterpreters() = 0;
};

Processes& SystemProcesses();

}  // namespace qlx::platform
