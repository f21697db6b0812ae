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
//
// Every child runs in a job object that ends it and all it started when the
// job is closed, so that giving up a wait, or the end of the process, leaves
// none of them running. Inside a job that allows no second one (Windows 7 and
// Server 2008 R2 under a scheduler) the child breaks away from it; where that
// is not allowed either, it runs without a job and is ended by walking its
// tree.
#include "platform/processes.h"
#include "platform/interruption.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>
#include <vector>

#include "platform/win32/handles.h"
#include "platform/win32/interruption.h"
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

// A child to start: the program by its absolute path, its whole command line,
// the directory it works in, and how it starts.
struct ChildLine {
  std::string program;
  std::string command_line;
  std::string directory;
  DWORD flags = 0;
  bool hidden = false;  // else in the console with our standard handles
};

// A job whose processes end when its last handle closes; null when none can
// be made.
UniqueKernelHandle KillingJob() {
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

ULONGLONG CreationTime(HANDLE process) {
  FILETIME created{};
  FILETIME unused[3]{};
  if (!GetProcessTimes(process, &created, &unused[0], &unused[1], &unused[2])) return 0;
  return (ULONGLONG{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

// Ends every process that `parent` started, and theirs: those whose parent's
// id is its own and that were made after it (ids are used again), each ended
// before its own children are looked for.
void EndChildrenOf(DWORD parent, ULONGLONG parent_created, std::set<DWORD>& ended) {
  std::vector<DWORD> children;
  {
    const UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot.get(), &entry); more;
         more = Process32Next(snapshot.get(), &entry)) {
      if (entry.th32ParentProcessID == parent && ended.count(entry.th32ProcessID) == 0) {
        children.push_back(entry.th32ProcessID);
      }
    }
  }
  for (const DWORD child : children) {
    const UniqueKernelHandle process(
        OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child));
    const ULONGLONG created = process ? CreationTime(process.get()) : 0;
    if (created < parent_created || !ended.insert(child).second) continue;
    TerminateProcess(process.get(), 1);
    EndChildrenOf(child, created, ended);
  }
}

// A child held with everything it starts (see above).
class Child {
 public:
  // Starts it suspended, puts it into the job and lets it run.
  Result<> Start(const ChildLine& line) {
    job_ = KillingJob();
    if (const Result<> made = Create(line, CREATE_SUSPENDED); !made) return made;
    if (job_ && !AssignProcessToJobObject(job_.get(), process())) {
      Discard();
      if (!Create(line, CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB) ||
          !AssignProcessToJobObject(job_.get(), process())) {
        Discard();
        job_.reset();
        if (const Result<> made = Create(line, CREATE_SUSPENDED); !made) return made;
      }
    }
    ResumeThread(started_.thread.get());
    return {};
  }

  // Waits for its end. An interruption meanwhile asks `give_up`, and a yes
  // ends the child with all it started.
  void Wait(const GiveUp& give_up) {
    const HANDLE waits[] = {process(), win32::InterruptionEvent()};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
      ResetEvent(waits[1]);
      if (give_up && give_up()) {
        End();
        WaitForSingleObject(process(), INFINITE);
        return;
      }
    }
  }

  HANDLE process() const { return started_.process.get(); }

 private:
  Result<> Create(const ChildLine& line, DWORD flags) {
    std::vector<char> writable_line = WritableCopy(line.command_line);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    if (line.hidden) startup = HiddenWindowStartup();
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(line.program.c_str(), writable_line.data(), nullptr, nullptr,
                        line.hidden ? FALSE : TRUE, line.flags | flags, nullptr,
                        line.directory.c_str(), &startup, &info)) {
      return Failure{GetLastError()};
    }
    started_ = TakeOwnership(info);
    return {};
  }

  void Discard() {
    if (process()) TerminateProcess(process(), 1);
    started_ = StartedProcess{};
  }

  void End() {
    if (job_) {
      TerminateJobObject(job_.get(), 1);
      return;
    }
    // Without a job: the child first, so that it starts nothing more.
    const ULONGLONG created = CreationTime(process());
    TerminateProcess(process(), 1);
    std::set<DWORD> ended{GetProcessId(process())};
    EndChildrenOf(GetProcessId(process()), created, ended);
  }

  UniqueKernelHandle job_;
  StartedProcess started_;
};

// The entries of a list such as PATH or PATHEXT as cmd reads it: split at
// each semicolon, double quotes removed, empty entries left out.
std::vector<std::string> ListEntries(const std::string& list) {
  std::vector<std::string> entries;
  std::string::size_type start = 0;
  while (start <= list.size()) {
    const std::string::size_type end = std::min(list.find(';', start), list.size());
    std::string entry = list.substr(start, end - start);
    entry.erase(std::remove(entry.begin(), entry.end(), '"'), entry.end());
    if (!entry.empty()) entries.push_back(entry);
    start = end + 1;
  }
  return entries;
}

// What cmd does with a name without a path: it looks in its current
// directory, then in each PATH entry in order, for the name followed by each
// PATHEXT extension in order. The children's current directory is a fresh,
// empty one, so only PATH counts; an entry that is not absolute would be
// taken relative to that empty directory and is passed over.
Result<std::string> CommandInterpreterSearch(const std::string& program) {
  const std::optional<std::string> path = EnvironmentVariable("PATH");
  const std::string extensions = EnvironmentVariable("PATHEXT").value_or(
      ".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC");
  for (const std::string& directory : ListEntries(path.value_or(""))) {
    if (!IsAbsolutePath(directory)) continue;
    const bool ends_in_separator = directory.back() == '\\' || directory.back() == '/';
    for (const std::string& extension : ListEntries(extensions)) {
      const std::string candidate =
          directory + (ends_in_separator ? "" : "\\") + program + extension;
      if (IsExistingFile(candidate)) return candidate;
    }
  }
  return Failure{ERROR_FILE_NOT_FOUND};
}

class Win32Processes : public Processes {
 public:
  Result<std::string> WhereCmdFinds(const std::string& program) override {
    return CommandInterpreterSearch(program);
  }

  // Without a temporary directory, or a private one inside it, the child is
  // not started: our own directory is no safer a place.
  Result<uint32_t> RunHidden(const std::string& command_line, const GiveUp& give_up) override {
    const Result<std::string> program = ProgramOf(command_line);
    if (!program) return Failure{program.error()};
    const std::optional<std::string> temporary = TemporaryDirectory();
    if (!temporary) return Failure{ERROR_PATH_NOT_FOUND};
    const win32::ScopedPrivateDirectory directory(*temporary);
    if (directory.error() != 0) return Failure{directory.error()};
    Child child;
    const Result<> started =
        child.Start({*program, command_line, directory.path(), CREATE_NEW_PROCESS_GROUP, true});
    if (!started) return Failure{started.error()};
    WaitForInputIdle(child.process(), kInputIdleWaitMs);
    child.Wait(give_up);
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(child.process(), &exit_code)) return Failure{GetLastError()};
    return static_cast<uint32_t>(exit_code);
  }

  // The interpreter COMSPEC names by an absolute path, else the system's, in
  // the console, with our standard handles, as the C library's system()
  // starts it; in a private directory, as the hidden children, so that the
  // tools it looks for by name come from PATH. An interruption ends it at
  // once, and none starts once the run is interrupted.
  void RunCommandInterpreter(const std::string& line) override {
    if (Interruptions() > 0) return;
    const std::optional<std::string> comspec = EnvironmentVariable("COMSPEC");
    const std::optional<std::string> interpreter =
        comspec && IsAbsolutePath(*comspec) && IsExistingFile(*comspec)
            ? comspec
            : SystemCommandInterpreter();
    const std::optional<std::string> temporary = TemporaryDirectory();
    if (!interpreter || !temporary) return;
    const win32::ScopedPrivateDirectory directory(*temporary);
    if (directory.error() != 0) return;
    Child child;
    if (child.Start({*interpreter, "\"" + *interpreter + "\" /c " + line, directory.path()})) {
      child.Wait([] { return true; });
    }
  }
};

}  // namespace

Processes& SystemProcesses() {
  static Win32Processes processes;
  return processes;
}

}  // namespace qlx::platform
