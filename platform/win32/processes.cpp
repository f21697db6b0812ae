// Child processes: hidden programs run in a private directory of their own
// inside the temporary directory (private_directory.h), made for each child
// and removed after it, and the command interpreter run in the patch's own
// directory and console.
#include "platform/processes.h"

#include <optional>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/private_directory.h"

namespace qlx::platform {
namespace {

using win32::UniqueKernelHandle;

// How long a child is given to become ready for input before the program
// simply waits for its end (console children never do).
constexpr DWORD kInputIdleWaitMs = 2000;

// The owned handles of a started child.
struct StartedProcess {
  UniqueKernelHandle process;
  UniqueKernelHandle thread;
};

StartedProcess TakeOwnership(const PROCESS_INFORMATION& info) {
  return StartedProcess{UniqueKernelHandle(info.hProcess), UniqueKernelHandle(info.hThread)};
}

// CreateProcessA may write into the command line it is given.
std::vector<char> WritableCopy(const std::string& text) {
  std::vector<char> copy(text.begin(), text.end());
  copy.push_back('\0');
  return copy;
}

// The temporary directory with its trailing backslash, or nothing when the
// system cannot name one that fits a path buffer.
std::optional<std::string> TemporaryDirectory() {
  char path[MAX_PATH] = {};
  const DWORD length = GetTempPathA(MAX_PATH - 1, path);
  if (length == 0 || length >= MAX_PATH - 1) return std::nullopt;
  return std::string(path, length);
}

std::optional<std::string> EnvironmentVariable(const char* name) {
  const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::vector<char> value(needed);
  const DWORD length = GetEnvironmentVariableA(name, value.data(), needed);
  if (length == 0 || length >= needed) return std::nullopt;
  return std::string(value.data(), length);
}

STARTUPINFOA HiddenWindowStartup() {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  return startup;
}

// Starts the command line hidden, in its own process group, in the directory
// given. The child gets the default security of the patch's account and
// inherits no handle.
Result<StartedProcess> StartHidden(const std::string& command_line, const std::string& directory) {
  std::vector<char> writable_line = WritableCopy(command_line);
  STARTUPINFOA startup = HiddenWindowStartup();
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, writable_line.data(), nullptr, nullptr, FALSE,
                      CREATE_NEW_PROCESS_GROUP, nullptr, directory.c_str(), &startup, &info)) {
    return Failure{GetLastError()};
  }
  return TakeOwnership(info);
}

// Starts the command line in the current directory and console, with the
// patch's standard handles, as the C library's system() does; false when it
// cannot be started.
bool RunInConsoleAndWait(const std::string& command_line) {
  std::vector<char> writable_line = WritableCopy(command_line);
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, writable_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return false;
  }
  const StartedProcess started = TakeOwnership(info);
  WaitForSingleObject(started.process.get(), INFINITE);
  return true;
}

class Win32Processes : public Processes {
 public:
  // Without a temporary directory, or a private one inside it, the child is
  // not started: our own directory is no safer a place.
  Result<uint32_t> RunHidden(const std::string& command_line) override {
    const std::optional<std::string> temporary = TemporaryDirectory();
    if (!temporary) return Failure{ERROR_PATH_NOT_FOUND};
    const win32::ScopedPrivateDirectory directory(*temporary);
    if (directory.error() != 0) return Failure{directory.error()};
    const Result<StartedProcess> child = StartHidden(command_line, directory.path());
    if (!child) return Failure{child.error()};
    WaitForInputIdle(child->process.get(), kInputIdleWaitMs);
    WaitForSingleObject(child->process.get(), INFINITE);
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(child->process.get(), &exit_code)) return Failure{GetLastError()};
    return static_cast<uint32_t>(exit_code);
  }

  // The interpreter named by COMSPEC, or cmd.exe when COMSPEC is unset or
  // names nothing that starts.
  void RunCommandInterpreter(const std::string& line) override {
    const std::string arguments = " /c " + line;
    const std::optional<std::string> comspec = EnvironmentVariable("COMSPEC");
    if (comspec && RunInConsoleAndWait("\"" + *comspec + "\"" + arguments)) return;
    RunInConsoleAndWait("cmd.exe" + arguments);
  }
};

}  // namespace

Processes& SystemProcesses() {
  static Win32Processes processes;
  return processes;
}

}  // namespace qlx::platform
