// Child processes: hidden programs run in a private directory of their own
// inside the temporary directory (private_directory.h), made for each child
// and removed after it, and the command interpreter run in the patch's own
// directory and console.
#include "platform/processes.h"
#include "platform/run_state.h"

#include <mutex>
#include <optional>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/private_directory.h"
// After <windows.h>, which it needs.
#include <tlhelp32.h>

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

// Every process whose parent is `parent`, and theirs, by a snapshot of the
// system's processes.
void EndTreeBelow(DWORD parent) {
  const UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return;
  std::vector<DWORD> children;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    if (entry.th32ParentProcessID == parent && entry.th32ProcessID != parent) {
      children.push_back(entry.th32ProcessID);
    }
  }
  for (const DWORD child : children) {
    const UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, child));
    if (process) TerminateProcess(process.get(), 1);
    EndTreeBelow(child);
  }
}

// The command interpreter's children (the password tool): cmd and what it
// starts run in a job object that ends them all when it is closed or
// terminated. Inside a job that allows no second one (Windows 7 and Server
// 2008 R2 under a scheduler), the child breaks away from it; where that is
// not allowed either, the child runs without a job and an interruption ends
// its process tree by walking it. Once the run is interrupted, no
// further child is started.
class InterpreterChildren {
 public:
  // Starts the line suspended, puts it into the job and lets it run; false
  // when it could not be started.
  bool Start(const std::string& command_line, StartedProcess* started) {
    const std::lock_guard<std::mutex> held(mutex_);
    if (ThisRunState().interrupted()) return false;
    UniqueKernelHandle job = KillingJob();
    if (!StartSuspended(command_line, job ? CREATE_SUSPENDED : 0, started)) return false;
    if (job && !AssignProcessToJobObject(job.get(), started->process.get())) {
      // Inside a job that forbids a second one: start it again, breaking away.
      TerminateProcess(started->process.get(), 1);
      *started = StartedProcess{};
      if (!StartSuspended(command_line, CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB, started) ||
          !AssignProcessToJobObject(job.get(), started->process.get())) {
        if (started->process) TerminateProcess(started->process.get(), 1);
        *started = StartedProcess{};
        job.reset();
        if (!StartSuspended(command_line, CREATE_SUSPENDED, started)) return false;
      }
    }
    job_ = std::move(job);
    process_id_ = GetProcessId(started->process.get());
    ResumeThread(started->thread.get());
    return true;
  }

  void Forget() {
    const std::lock_guard<std::mutex> held(mutex_);
    job_.reset();
    process_id_ = 0;
  }

  void EndAll() {
    const std::lock_guard<std::mutex> held(mutex_);
    if (job_) {
      TerminateJobObject(job_.get(), 1);
      return;
    }
    if (process_id_ == 0) return;
    EndTreeBelow(process_id_);
    const UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, process_id_));
    if (process) TerminateProcess(process.get(), 1);
  }

 private:
  // A job whose processes end when its last handle closes; null when none
  // can be made.
  static UniqueKernelHandle KillingJob() {
    UniqueKernelHandle job(CreateJobObjectA(nullptr, nullptr));
    if (!job) return job;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof(limits))) {
      job.reset();
    }
    return job;
  }

  // In the current directory and console, with the patch's standard handles,
  // as the C library's system() starts it.
  static bool StartSuspended(const std::string& command_line, DWORD flags,
                             StartedProcess* started) {
    std::vector<char> writable_line = WritableCopy(command_line);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, writable_line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                        nullptr, &startup, &info)) {
      return false;
    }
    *started = TakeOwnership(info);
    return true;
  }

  std::mutex mutex_;
  UniqueKernelHandle job_;
  DWORD process_id_ = 0;
};

InterpreterChildren& PasswordToolChildren() {
  static InterpreterChildren children;
  return children;
}

// Runs the line as one of the interpreter's children and waits for its end;
// false when it cannot be started.
bool RunInConsoleAndWait(const std::string& command_line) {
  StartedProcess started;
  if (!PasswordToolChildren().Start(command_line, &started)) return false;
  WaitForSingleObject(started.process.get(), INFINITE);
  PasswordToolChildren().Forget();
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

  void EndCommandInterpreters() override { PasswordToolChildren().EndAll(); }
};

}  // namespace

Processes& SystemProcesses() {
  static Win32Processes processes;
  return processes;
}

}  // namespace qlx::platform
