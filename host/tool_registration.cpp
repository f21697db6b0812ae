#include "host/tool_registration.h"

#include <string>

#include "config/host_paths.h"
#include "driver/patch_log.h"
#include "host/program_runner.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace qlx {
namespace {

constexpr char kNewToolFile[] = "qlxtools.xml";
constexpr char kInstalledToolFile[] = "\\Tools\\qlxtools.xml";

// zqtool's output goes to a file named "null" in the child's working directory.
std::string ZqtoolCommand(const char* action, const std::string& host_directory) {
  return std::string("cmd /c \"zqtool ") + action + " -f \"" + host_directory + kInstalledToolFile +
         "\"\" > null";
}

}  // namespace

bool RefreshToolRegistration() {
  const std::string host_directory = HostDirectory();
  if (ExecuteProgram(ZqtoolCommand("-r", host_directory)) != 0) return false;

  const platform::Result<> copy =
      platform::Current().files->CopyReplacing(kNewToolFile, host_directory + kInstalledToolFile);
  if (!copy) LogSystemError("RefreshToolRegistration", copy.error());

  // The definitions are added again even when the copy failed, so the tools
  // are never left unregistered.
  const bool added = ExecuteProgram(ZqtoolCommand("-a", host_directory)) == 0;
  return added && copy;
}

}  // namespace qlx
