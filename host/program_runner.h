#pragma once

#include <cstdint>
#include <string>

namespace qlx {

// Runs the command line as a hidden child in the temporary directory and
// waits for it. Returns the child's exit code, or the Windows error code
// (also logged) when it could not be started or its exit code read. The wait
// outlasts a first interruption, which is told on standard error; a second
// one, or a session that ends, ends the child and leaves with RunInterrupted.
uint32_t ExecuteProgram(const std::string& command_line);

}  // namespace qlx
