#include "host/program_runner.h"

#include "driver/patch_log.h"
#include "platform/platform.h"
#include "platform/processes.h"
#include "platform/run_state.h"

namespace qlx {

uint32_t ExecuteProgram(const std::string& command_line) {
  // An action of the run; a child of the tool registration is left running
  // by an interruption, since ending it midway could leave the tools half
  // registered.
  const platform::ActionInFlight running(platform::ThisRunState());
  const platform::Result<uint32_t> exit_code =
      platform::Current().processes->RunHidden(command_line);
  if (exit_code) return *exit_code;
  LogSystemError("ExecuteProgram", exit_code.error());
  return exit_code.error();
}

}  // namespace qlx
