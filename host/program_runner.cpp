#include "host/program_runner.h"

#include "driver/patch_log.h"
#include "platform/platform.h"
#include "platform/processes.h"

namespace qlx {

uint32_t ExecuteProgram(const std::string& command_line) {
  const platform::ProgramOutcome outcome = platform::Current().processes->RunHidden(command_line);
  if (outcome.failed) LogSystemError("ExecuteProgram", outcome.code);
  return outcome.code;
}

}  // namespace qlx
