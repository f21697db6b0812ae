// Child processes: hidden programs and the command interpreter each run in a
// private directory of their own inside the temporary directory
// (private_directory.h), made for each child and removed after it; the
// interpreter in the patch's console.
//
// No program is ever taken from the patch's own directory or its current
// directory, which Windows would search first for a program named without a
// path: a folder an administrator unpacked the patch into may be writable by
// other users. The interpreter is named by its absolute path (the system's
// cmd.exe, or COMSPEC when that names an existing file by an absolute path)
// and any other program is looked for on PATH alone.
#include "platform/processes.h"
#include "platform/run_state.h"

#include <cctype>
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

bool IsAbsolutePath(const std::string& path) {
  const bool drive = path.size() > 2 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                     path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  return drive || path.rfind("\\\\", 0) == 0;
}

bool IsExistingFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The system's command interpreter, by its absolute path.
std::optional<std::string> SystemCommandInterpreter() {
  char directory[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::nullopt;
  return std::string(directory, length) + "\\cmd.exe";
}

// The first word of a command line, as CreateProcess finds the program in it.
std::string FirstWord(const std::string& command_line) {
  if (!command_line.empty() && command_line[0] == '"') {
    return command_line.substr(1, command_line.find('"', 1) - 1);
  }
  return command_line.substr(0, command_line.find_first_of(" \t"));
}

// The program a hidden command line starts, by its absolute path: the
// system's interpreter for a "cmd" line, else a path as written or a name
// found on PATH (never in our own or the current directory).
Result<std::string> ProgramOf(const std::string& command_line) {
  const std::string word = FirstWord(command_line);
  if (lstrcmpiA(word.c_str(), "cmd") == 0 || lstrcmpiA(word.c_str(), "cmd.exe") == 0) {
    if (const auto interpreter = SystemCommandInterpreter()) return *interpreter;
    return Failure{ERROR_FILE_NOT_FOUND};
  }
  if (word.find_first_of("\\/:") != std::string::npos) return word;
  const std::optional<std::string> path = EnvironmentVariable("PATH");
  char found[MAX_PATH] = {};
  const DWORD length =
      path ? SearchPathA(path->c_str(), word.c_str(), ".exe", MAX_PATH, found, nullptr) : 0;
  if (length == 0 || length >= MAX_PATH) return Failure{ERROR_FILE_NOT_FOUND};
  return std::string(found, length);
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
  const Result<std::string> program = ProgramOf(command_line);
  if (!program) return Failure{program.error()};
  std::vector<char> writable_line = WritableCopy(command_line);
  STARTUPINFOA startup = HiddenWindowStartup();
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(program->c_str(), writable_line.data(), nullptr, nullptr, FALSE,
                      CREATE_NEW_PROCESS_GROUP, nullptr, directory.c_str(), &startup, &info)) {
    return Failure{GetLastError()};
  }
  return TakeOwnership(info);
}

// A child to start: the program by its absolute path, its whole command line
// and the directory it works in.
struct ChildLine {
  std::string program;
  std::string command_line;
  std::string directory;
};

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
  bool Start(const ChildLine& child, StartedProcess* started) {
    const std::lock_guard<std::mutex> held(mutex_);
    if (ThisRunState().interrupted()) return false;
    UniqueKernelHandle job = KillingJob();
    if (!StartSuspended(child, job ? CREATE_SUSPENDED : 0, started)) return false;
    if (job && !AssignProcessToJobObject(job.get(), started->process.get())) {
      // Inside a job that forbids a second one: start it again, breaking away.
      TerminateProcess(started->process.get(), 1);
      *started = StartedProcess{};
      if (!StartSuspended(child, CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB, started) ||
          !AssignProcessToJobObject(job.get(), started->process.get())) {
        if (started->process) TerminateProcess(started->process.get(), 1);
        *started = StartedProcess{};
        job.reset();
        if (!StartSuspended(child, CREATE_SUSPENDED, started)) return false;
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

  // In the console, with the patch's standard handles, as the C library's
  // system() starts it.
  static bool StartSuspended(const ChildLine& child, DWORD flags, StartedProcess* started) {
    std::vector<char> writable_line = WritableCopy(child.command_line);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(child.program.c_str(), writable_line.data(), nullptr, nullptr, TRUE, flags,
                        nullptr, child.directory.c_str(), &startup, &info)) {
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
bool RunInConsoleAndWait(const ChildLine& child) {
  StartedProcess started;
  if (!PasswordToolChildren().Start(child, &started)) return false;
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

  // The interpreter COMSPEC names by an absolute path, else the system's; in
  // a private directory, as the hidden children, so that the tools it looks
  // for by name come from PATH.
  void RunCommandInterpreter(const std::string& line) override {
    const std::optional<std::string> comspec = EnvironmentVariable("COMSPEC");
    const std::optional<std::string> interpreter =
        comspec && IsAbsolutePath(*comspec) && IsExistingFile(*comspec)
            ? comspec
            : SystemCommandInterpreter();
    const std::optional<std::string> temporary = TemporaryDirectory();
    if (!interpreter || !temporary) return;
    const win32::ScopedPrivateDirectory directory(*temporary);
    if (directory.error() != 0) return;
    RunInConsoleAndWait({*interpreter, "\"" + *interpreter + "\" /c " + line, directory.path()});
  }

  void EndCommandInterpreters() override { PasswordToolChildren().EndAll(); }
};

}  // namespace

Processes& SystemProcesses() {
  static Win32Processes processes;
  return processes;
}

}  // namespace qlx::platform
