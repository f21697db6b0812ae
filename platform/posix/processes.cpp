// Child processes. A command line is split by the Windows rules and its
// program started directly (searched on PATH; a relative path with a slash is
// taken from our current directory, as Windows takes it), with no shell in
// between. A command line for the command interpreter ("cmd /c ...") runs its
// request through /bin/sh -c instead; see windows_command_line.h for how the
// request becomes a shell command.
//
// Children get the standard streams and nothing else of ours. A child killed
// by a signal ends with 128 + the signal's number, as shells report it.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/posix/posix_io.h"
#include "platform/posix/windows_command_line.h"
#include "platform/posix/windows_errors.h"
#include "platform/processes.h"

extern char** environ;

namespace qlx::platform {
namespace {

constexpr char kShell[] = "/bin/sh";
constexpr uint32_t kSignalExitBase = 128;
constexpr int kFirstNonStandardFd = 3;

class SpawnFileActions {
 public:
  SpawnFileActions() { ::posix_spawn_file_actions_init(&actions_); }
  ~SpawnFileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { ::posix_spawnattr_init(&attributes_); }
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

// While we wait for a child, SIGCHLD must not be ignored: a parent that
// ignores it has its children reaped for it, and the wait would find no exit
// code. A caller may have left it ignored for us, so it is put back after.
class ScopedDefaultChildSignal {
 public:
  ScopedDefaultChildSignal() {
    struct sigaction defaults = {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    restore_ = ::sigaction(SIGCHLD, &defaults, &previous_) == 0;
  }
  ~ScopedDefaultChildSignal() {
    if (restore_) ::sigaction(SIGCHLD, &previous_, nullptr);
  }
  ScopedDefaultChildSignal(const ScopedDefaultChildSignal&) = delete;
  ScopedDefaultChildSignal& operator=(const ScopedDefaultChildSignal&) = delete;

 private:
  struct sigaction previous_ = {};
  bool restore_ = false;
};

// The child starts with no signal blocked and SIGPIPE and SIGCHLD at their
// defaults, whatever we have set for ourselves.
int PrepareAttributes(SpawnAttributes& attributes) {
  sigset_t none;
  sigset_t defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  if (const int error = ::posix_spawnattr_setsigmask(attributes.get(), &none)) return error;
  if (const int error = ::posix_spawnattr_setsigdefault(attributes.get(), &defaults)) return error;
  return ::posix_spawnattr_setflags(attributes.get(),
                                    POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

int PrepareFileActions(SpawnFileActions& actions, const std::string* directory) {
  if (const int error =
          ::posix_spawn_file_actions_addclosefrom_np(actions.get(), kFirstNonStandardFd)) {
    return error;
  }
  if (!directory) return 0;
  return ::posix_spawn_file_actions_addchdir_np(actions.get(), directory->c_str());
}

uint32_t ExitCodeOf(int status) {
  if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return kSignalExitBase + static_cast<uint32_t>(WTERMSIG(status));
  return kSignalExitBase;
}

ProgramOutcome WaitForExit(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return ProgramOutcome{true, posix::WindowsErrorFromErrno(errno)};
  }
  return ProgramOutcome{false, ExitCodeOf(status)};
}

// Starts `program` with the arguments (argv[0] included) in `directory`, or in
// ours when it is null, and waits for its end.
ProgramOutcome RunAndWait(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string* directory) {
  SpawnFileActions actions;
  SpawnAttributes attributes;
  int error = PrepareFileActions(actions, directory);
  if (error == 0) error = PrepareAttributes(attributes);
  if (error != 0) return ProgramOutcome{true, posix::WindowsErrorFromErrno(error)};

  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const ScopedDefaultChildSignal child_signal;
  pid_t child = 0;
  error = ::posix_spawnp(&child, program.c_str(), actions.get(), attributes.get(), argv.data(),
                         environ);
  if (error != 0) return ProgramOutcome{true, posix::WindowsErrorFromErrno(error)};
  return WaitForExit(child);
}

ProgramOutcome RunShellCommand(const std::string& command, const std::string* directory) {
  return RunAndWait(kShell, {"sh", "-c", command}, directory);
}

// Windows finds a relative program path from the parent's current directory,
// while the child here already runs in its own.
std::string ProgramPath(const std::string& program) {
  if (program.find('/') == std::string::npos || program.front() == '/') return program;
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  return error ? program : (current / program).string();
}

std::string TemporaryDirectory() { return posix::EnvironmentOr("TMPDIR", "/tmp"); }

class SystemProcessRunner : public Processes {
 public:
  ProgramOutcome RunHidden(const std::string& command_line) override {
    const std::string directory = TemporaryDirectory();
    if (!posix::IsDirectory(directory)) return ProgramOutcome{true, posix::kErrorDirectory};
    if (const auto request = posix::CommandInterpreterRequest(command_line)) {
      return RunShellCommand(posix::ShellCommandForRequest(*request), &directory);
    }
    const std::vector<std::string> arguments = posix::SplitWindowsCommandLine(command_line);
    if (arguments.empty()) return ProgramOutcome{true, posix::kErrorFileNotFound};
    return RunAndWait(ProgramPath(arguments.front()), arguments, &directory);
  }

  void RunCommandInterpreter(const std::string& line) override {
    RunShellCommand(posix::ShellCommandForRequest(line), nullptr);
  }
};

}  // namespace

Processes& SystemProcesses() {
  static SystemProcessRunner processes;
  return processes;
}

}  // namespace qlx::platform
