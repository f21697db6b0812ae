#include "host/program_runner.h"

#include <cstdio>

#include "driver/patch_log.h"
#include "platform/interruption.h"
#include "platform/platform.h"
#include "platform/processes.h"

namespace qlx {
namespace {

constexpr char kWaitingForTheTool[] =
    "qlxpatch: waiting for zqtool to finish the tool registration.\n"
    "qlxpatch: interrupt again to abandon it; the tools may then be unregistered.\n";

}  // namespace

uint32_t ExecuteProgram(const std::string& command_line) {
  // The children are the tool registration's, which an interruption lets
  // finish: a second one, or a session that ends, abandons them.
  const auto abandon = [] { return platform::Interruptions() >= 2 || platform::SessionEnding(); };
  if (abandon()) throw platform::RunInterrupted{};
  bool abandoned = false;
  bool told = false;
  const platform::GiveUp give_up = [&] {
    if (abandon()) return abandoned = true;
    if (!told) std::fputs(kWaitingForTheTool, stderr);
    told = true;
    return false;
  };
  const platform::Result<uint32_t> exit_code =
      platform::Current().processes->RunHidden(command_line, give_up);
  if (abandoned) throw platform::RunInterrupted{};
  if (exit_code) return *exit_code;
  LogSystemError("ExecuteProgram", exit_code.error());
  return exit_code.error();
}

}  // namespace qlx
