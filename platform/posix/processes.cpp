// Child processes, with no shell anywhere.
//
// A plain command line is split by the Windows rules and its program started
// directly (searched on PATH; a relative path with a slash is taken from our
// current directory, as Windows takes it). A line for the command interpreter
// ("cmd /c ...", and every RunCommandInterpreter line) is read as cmd reads it
// (command_interpreter.h); then the redirections are opened, the program is
// looked for in the child's working directory and then on PATH, and started
// directly. The program's texts are Windows-1252: a line becomes UTF-8 before
// anything reads it, so the values of variables are not converted twice.
//
// Every child works in a directory nobody else may write to (a shared /tmp,
// or our current directory, could hold a program that is looked for there
// first):
// $TMPDIR when it is private, else qlxpatch-<uid> inside it or inside /tmp
// (private_directory.h). It is opened once, checked, and the child enters it
// through that descriptor, as the lookups and redirections use it.
//
// Children get the standard streams and nothing else of ours. A child killed
// by a signal ends with 128 + the signal's number, as shells report it. Each
// leads a process group of its own, which giving up its wait ends whole.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/interruption.h"
#include "platform/posix/command_interpreter.h"
#include "platform/posix/drives.h"
#include "platform/posix/interruption.h"
#include "platform/posix/posix_io.h"
#include "platform/posix/private_directory.h"
#include "platform/posix/text_encoding.h"
#include "platform/posix/trace.h"
#include "platform/posix/windows_command_line.h"
#include "platform/posix/windows_errors.h"
#include "platform/processes.h"
#include "platform/system_messages.h"
#include "platform/text.h"

extern char** environ;

namespace qlx::platform {
namespace {

using posix::Redirection;
using posix::UniqueFd;

constexpr uint32_t kSignalExitBase = 128;
constexpr int kFirstNonStandardFd = 3;
constexpr int kStandardError = 2;
// cmd's exit codes: a request it cannot carry out, and a program it cannot find.
constexpr uint32_t kInterpreterFailure = 1;
constexpr uint32_t kCommandNotFound = 9009;
// A file the interpreter creates for a redirection is its owner's alone.
constexpr mode_t kRedirectionFileMode = S_IRUSR | S_IWUSR;
// A creation that races with another program's removal is tried this often.
constexpr int kOpenAttempts = 3;

// A posix_spawn settings object, initialised in place and destroyed with it.
template <typename Settings, int (*kInit)(Settings*), int (*kDestroy)(Settings*)>
class SpawnSettings {
 public:
  SpawnSettings() { kInit(&settings_); }
  ~SpawnSettings() { kDestroy(&settings_); }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;
  Settings* get() { return &settings_; }

 private:
  Settings settings_;
};

using SpawnFileActions = SpawnSettings<posix_spawn_file_actions_t, &::posix_spawn_file_actions_init,
                                       &::posix_spawn_file_actions_destroy>;
using SpawnAttributes =
    SpawnSettings<posix_spawnattr_t, &::posix_spawnattr_init, &::posix_spawnattr_destroy>;

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

// A descriptor that cannot be one of the standard handles, so that putting
// the handles in place in the child never overwrites another source.
UniqueFd AboveStandardHandles(UniqueFd fd) {
  if (!fd || fd.get() >= kFirstNonStandardFd) return fd;
  return UniqueFd(::fcntl(fd.get(), F_DUPFD_CLOEXEC, kFirstNonStandardFd));
}

// The standard handles a child is given: ours, or files and copies that the
// interpreter's redirections put in their place (held here close-on-exec).
class ChildHandles {
 public:
  int Current(int handle) const {
    const UniqueFd& redirected = Slot(handle);
    return redirected ? redirected.get() : handle;
  }
  void Redirect(int handle, UniqueFd fd) { Slot(handle) = std::move(fd); }
  // Each redirected handle becomes a copy of its file in the child.
  int AddTo(SpawnFileActions& actions) const {
    for (int handle = 0; handle < kFirstNonStandardFd; ++handle) {
      const UniqueFd& redirected = Slot(handle);
      if (!redirected) continue;
      if (const int error =
              ::posix_spawn_file_actions_adddup2(actions.get(), redirected.get(), handle)) {
        return error;
      }
    }
    return 0;
  }

 private:
  // The handles are 0, 1 and 2.
  UniqueFd& Slot(int handle) { return redirected_.at(static_cast<std::size_t>(handle)); }
  const UniqueFd& Slot(int handle) const {
    return redirected_.at(static_cast<std::size_t>(handle));
  }

  std::array<UniqueFd, kFirstNonStandardFd> redirected_;
};

// The directory a request runs in: the checked descriptor of the private
// directory, or our current directory (AT_FDCWD). Relative names are
// resolved against it.
struct WorkingDirectory {
  int fd = AT_FDCWD;
};

// What is started: the program (a path, relative to the working directory, or
// a name looked for on PATH when `search_path` is set), its arguments with
// argv[0], whether it enters the working directory (else it stays in ours) and
// the standard handles (ours when null). A hidden child
// runs in a process group of its own, as Windows starts it in a new one, so
// that a Ctrl+C at the patch's terminal does not reach it.
struct ChildStart {
  std::string program;
  std::vector<std::string> arguments;
  const WorkingDirectory* directory = nullptr;
  const ChildHandles* handles = nullptr;
  bool search_path = false;
  bool own_process_group = false;
};

// The child starts with no signal blocked and SIGPIPE and SIGCHLD at their
// defaults, whatever we have set for ourselves.
int PrepareAttributes(SpawnAttributes& attributes, bool own_process_group) {
  sigset_t none;
  sigset_t defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  if (const int error = ::posix_spawnattr_setsigmask(attributes.get(), &none)) return error;
  if (const int error = ::posix_spawnattr_setsigdefault(attributes.get(), &defaults)) return error;
  if (const int error = ::posix_spawnattr_setpgroup(attributes.get(), 0)) return error;
  const short group = own_process_group ? POSIX_SPAWN_SETPGROUP : 0;
  return ::posix_spawnattr_setflags(attributes.get(),
                                    POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | group);
}

int PrepareFileActions(SpawnFileActions& actions, const ChildStart& start) {
  if (start.handles) {
    if (const int error = start.handles->AddTo(actions)) return error;
  }
  // Entered before our descriptors, the directory's among them, are closed.
  if (start.directory && start.directory->fd != AT_FDCWD) {
    if (const int error =
            ::posix_spawn_file_actions_addfchdir_np(actions.get(), start.directory->fd)) {
      return error;
    }
  }
  return ::posix_spawn_file_actions_addclosefrom_np(actions.get(), kFirstNonStandardFd);
}

// Starts the child; 0 or the errno of the failure.
int Spawn(const ChildStart& start, pid_t* child) {
  SpawnFileActions actions;
  SpawnAttributes attributes;
  int error = PrepareFileActions(actions, start);
  if (error == 0) error = PrepareAttributes(attributes, start.own_process_group);
  if (error != 0) return error;

  std::vector<char*> argv;
  for (const std::string& argument : start.arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  const auto spawn = start.search_path ? ::posix_spawnp : ::posix_spawn;
  return spawn(child, start.program.c_str(), actions.get(), attributes.get(), argv.data(), environ);
}

uint32_t ExitCodeOf(int status) {
  if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return kSignalExitBase + static_cast<uint32_t>(WTERMSIG(status));
  return kSignalExitBase;
}

Result<uint32_t> WaitForExit(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return Failure{posix::WindowsErrorFromErrno(errno)};
  }
  return ExitCodeOf(status);
}

// Waits for the child's end. An interruption that comes meanwhile asks
// `give_up`, and a yes ends the child's process group (every child leads one
// of its own). Without a pidfd (a kernel older than 5.3) the wait is a plain
// one.
Result<uint32_t> WaitForChild(pid_t child, const GiveUp& give_up) {
  const UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
  while (process) {
    pollfd waits[] = {{process.get(), POLLIN, 0}, {posix::InterruptionFd(), POLLIN, 0}};
    if (::poll(waits, 2, -1) < 0 && errno != EINTR) break;
    if (waits[0].revents != 0) break;
    if (waits[1].revents == 0) continue;
    posix::DrainInterruptions();
    if (give_up && give_up()) ::kill(-child, SIGKILL);
  }
  return WaitForExit(child);
}

// --- plain command lines ------------------------------------------------------

// Windows finds a relative program path from the parent's current directory,
// while the child here already runs in its own.
std::string ProgramPath(const std::string& program) {
  if (program.find('/') == std::string::npos || program.front() == '/') return program;
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  return error ? program : (current / program).string();
}

Result<uint32_t> RunProgram(const std::string& command_line, const WorkingDirectory& directory,
                            const GiveUp& give_up) {
  const std::vector<std::string> arguments = posix::SplitWindowsCommandLine(command_line);
  if (arguments.empty()) return Failure{kErrorFileNotFound};
  const ChildStart start{
      ProgramPath(arguments.front()), arguments, &directory, nullptr, true, true};
  const ScopedDefaultChildSignal child_signal;
  pid_t child = 0;
  if (const int error = Spawn(start, &child)) {
    return Failure{posix::WindowsErrorFromErrno(error)};
  }
  return WaitForChild(child, give_up);
}

// --- the command interpreter --------------------------------------------------

// Windows' variable names ignore case: the exact name first, then any case.
// Names and values are UTF-8 here.
std::optional<std::string> EnvironmentValue(const std::string& name) {
  if (const char* value = std::getenv(name.c_str())) return std::string(value);
  const std::u16string wide_name = posix::Utf16FromUtf8(name);
  for (char** entry = environ; entry && *entry; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (!equals) continue;
    const std::string entry_name(*entry, static_cast<std::size_t>(equals - *entry));
    if (posix::EqualIgnoringCase(posix::Utf16FromUtf8(entry_name), wide_name)) {
      return std::string(equals + 1);
    }
  }
  return std::nullopt;
}

std::string InDirectory(const std::string& directory, const std::string& name) {
  if (name.front() == '/' || directory.empty()) return name;
  return directory.back() == '/' ? directory + name : directory + "/" + name;
}

// Only a regular file that someone may execute counts as a program. A
// relative path is taken from the working directory.
bool IsProgram(const WorkingDirectory& directory, const std::string& path) {
  struct stat info = {};
  return ::fstatat(directory.fd, path.c_str(), &info, 0) == 0 && S_ISREG(info.st_mode) &&
         (info.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
}

// A name with a directory part is taken from the child's working directory;
// a bare name is looked for there first and then in each PATH directory. The
// path found is relative to the working directory unless it is absolute.
std::optional<std::string> FindProgram(const std::string& name, const WorkingDirectory& directory) {
  if (name.empty()) return std::nullopt;
  if (IsProgram(directory, name)) return name;
  if (name.find('/') != std::string::npos) return std::nullopt;
  const std::string path = posix::EnvironmentOr("PATH", "");
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      const std::string candidate = InDirectory(path.substr(start, end - start), name);
      if (IsProgram(directory, candidate)) return candidate;
    }
    start = end + 1;
  }
  return std::nullopt;
}

// The system's text for the code on one line, "%1" standing for the program.
std::string MessageFor(uint32_t code, const std::string& program = "") {
  std::string text = WithoutTrailingLineBreaks(
      SystemMessageText(code).value_or("Error " + std::to_string(code) + "."));
  if (const std::size_t insert = text.find("%1"); insert != std::string::npos) {
    text.replace(insert, 2, program);
  }
  return text;
}

// Writes the interpreter's complaint where its standard error goes, and ends
// the request with the exit code.
Result<uint32_t> Complain(int fd, const std::string& text, uint32_t exit_code) {
  const std::string line = text + "\n";
  posix::WriteAll(fd, line.data(), line.size());
  return exit_code;
}

// A redirection's file as the program wrote it: a path on a drive with the
// backslashes the interpreter turned into slashes.
std::string AsWritten(std::string target) {
  if (posix::HasDriveLetter(target)) std::replace(target.begin(), target.end(), '/', '\\');
  return target;
}

// A redirection's file: a relative name stays relative to the working
// directory it is opened in.
std::string RedirectionPath(const std::string& target) {
  // "nul" is Windows' null device in every directory.
  if (posix::EqualIgnoringCase(target, "nul")) return "/dev/null";
  // A file on a mapped drive letter is where the letter maps it.
  if (posix::HasDriveLetter(target)) {
    if (const Result<std::string> on_drive = posix::ResolveDrivePath(target)) return *on_drive;
  }
  return target;
}

// Opens an output file as cmd does: created when missing (then readable and
// writable by its owner alone, whatever the umask), else truncated or appended
// to with its own permissions. Sets *error on failure.
UniqueFd OpenOutput(const WorkingDirectory& directory, const std::string& path, bool append,
                    int* error) {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    UniqueFd created(::openat(directory.fd, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              kRedirectionFileMode));
    if (created) {
      if (::fchmod(created.get(), kRedirectionFileMode) == 0) return created;
      *error = errno;
      return UniqueFd();
    }
    if (errno != EEXIST) break;
    UniqueFd existing(
        ::openat(directory.fd, path.c_str(), O_WRONLY | O_CLOEXEC | (append ? O_APPEND : O_TRUNC)));
    if (existing || errno != ENOENT) {
      if (!existing) *error = errno;
      return existing;
    }
  }
  *error = errno;
  return UniqueFd();
}

UniqueFd OpenInput(const WorkingDirectory& directory, const std::string& path, int* error) {
  UniqueFd file(::openat(directory.fd, path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) *error = errno;
  return file;
}

// The Windows code for a redirection that could not be opened. A missing
// file is a missing path unless the directory is there and the file was to
// be read.
uint32_t RedirectionError(int error, const Redirection& redirection,
                          const WorkingDirectory& directory, const std::string& path) {
  if (error != ENOENT) return posix::WindowsErrorFromErrno(error);
  const bool reading = redirection.kind == Redirection::Kind::kRead;
  struct stat parent = {};
  const bool parent_exists =
      ::fstatat(directory.fd, posix::ParentDirectory(path).c_str(), &parent, 0) == 0 &&
      S_ISDIR(parent.st_mode);
  return reading && parent_exists ? kErrorFileNotFound : kErrorPathNotFound;
}

// Puts one redirection in place.
Result<> Redirect(const Redirection& redirection, const WorkingDirectory& directory,
                  ChildHandles& handles) {
  if (redirection.kind == Redirection::Kind::kCopy) {
    const int source = handles.Current(redirection.source);
    UniqueFd copy(::fcntl(source, F_DUPFD_CLOEXEC, kFirstNonStandardFd));
    if (!copy) return Failure{posix::WindowsErrorFromErrno(errno)};
    handles.Redirect(redirection.handle, std::move(copy));
    return {};
  }
  const std::string path = RedirectionPath(redirection.target);
  const bool writes = redirection.kind != Redirection::Kind::kRead && path != "/dev/null";
  struct stat before = {};
  const bool existed = writes && ::fstatat(directory.fd, path.c_str(), &before, 0) == 0;
  int error = 0;
  UniqueFd file =
      redirection.kind == Redirection::Kind::kRead
          ? OpenInput(directory, path, &error)
          : OpenOutput(directory, path, redirection.kind == Redirection::Kind::kAppend, &error);
  const uint32_t code = file ? 0 : RedirectionError(error, redirection, directory, path);
  if (writes) {
    posix::Trace({"file.write", AsWritten(redirection.target), path,
                  existed ? "changed" : "created", std::to_string(code)});
  }
  if (!file) return Failure{code};
  handles.Redirect(redirection.handle, AboveStandardHandles(std::move(file)));
  return {};
}

// Carries out a request as cmd /c does in `directory`, the child's working
// directory. The result is the interpreter's: the program's exit code, or its
// own. *started becomes the program found and its arguments.
Result<uint32_t> RunRequest(const std::string& request, const WorkingDirectory& directory,
                            const GiveUp& give_up, std::vector<std::string>* started) {
  const posix::InterpretedCommand command =
      posix::InterpretRequest(request, EnvironmentValue, posix::MappedDriveArgument);
  if (!command.refusal.empty()) {
    return Complain(kStandardError, command.refusal, kInterpreterFailure);
  }
  ChildHandles handles;
  for (const Redirection& redirection : command.redirections) {
    if (const Result<> redirected = Redirect(redirection, directory, handles); !redirected) {
      return Complain(kStandardError, MessageFor(redirected.error()), kInterpreterFailure);
    }
  }
  const std::vector<std::string> arguments = posix::SplitWindowsCommandLine(command.command_line);
  if (arguments.empty()) return 0u;
  const std::string& name = arguments.front();
  const std::optional<std::string> program = FindProgram(name, directory);
  if (!program) {
    return Complain(handles.Current(kStandardError),
                    "'" + name +
                        "' is not recognized as an internal or external command, operable "
                        "program or batch file.",
                    kCommandNotFound);
  }
  *started = arguments;
  started->front() = *program;
  // Every child gets a process group of its own.
  const ChildStart start{*program, arguments, &directory, &handles, false, true};
  const ScopedDefaultChildSignal child_signal;
  pid_t child = 0;
  if (const int error = Spawn(start, &child)) {
    const uint32_t code = posix::WindowsErrorFromErrno(error);
    return Complain(handles.Current(kStandardError), MessageFor(code, name), code);
  }
  return WaitForChild(child, give_up);
}

// The rehearsal trace of a request: how it was run ("hidden" for a command
// line of the program runner, "interpreter" for a line handed to cmd /c), the
// line as the program formed it, the exit code ("-" when none was read), and
// the program found with its arguments as it got them.
void TraceRequest(const char* how, const std::string& line, const Result<uint32_t>& exit_code,
                  const std::vector<std::string>& started) {
  std::vector<std::string> fields = {"process", how, line,
                                     exit_code ? std::to_string(*exit_code) : "-"};
  fields.insert(fields.end(), started.begin(), started.end());
  posix::Trace(fields);
}

// --- where the children run -----------------------------------------------------

constexpr char kSystemTemporaryDirectory[] = "/tmp";

Result<posix::PrivateDirectory> ChildrenDirectory() {
  return posix::ChildrenDirectory(posix::EnvironmentOr("TMPDIR", ""), kSystemTemporaryDirectory);
}

class SystemProcessRunner : public Processes {
 public:
  Result<uint32_t> RunHidden(const std::string& command_line, const GiveUp& give_up) override {
    const Result<posix::PrivateDirectory> private_directory = ChildrenDirectory();
    if (!private_directory) return Failure{private_directory.error()};
    const WorkingDirectory directory{private_directory->fd.get()};
    const std::string line = posix::Utf8FromAnsi(command_line);
    if (const auto request = posix::CommandInterpreterRequest(line)) {
      std::vector<std::string> started;
      const Result<uint32_t> exit_code = RunRequest(*request, directory, give_up, &started);
      TraceRequest("hidden", line, exit_code, started);
      return exit_code;
    }
    return RunProgram(line, directory, give_up);
  }

  // The password tool runs in the same private directory, so that the tools
  // it names come from PATH, never from our current directory; an
  // interruption ends it at once, and none starts once the run is
  // interrupted.
  void RunCommandInterpreter(const std::string& line) override {
    if (Interruptions() > 0) return;
    const Result<posix::PrivateDirectory> private_directory = ChildrenDirectory();
    if (!private_directory) return;
    std::vector<std::string> started;
    const std::string request = posix::Utf8FromAnsi(line);
    const WorkingDirectory directory{private_directory->fd.get()};
    TraceRequest("interpreter", request,
                 RunRequest(
                     request, directory, [] { return true; }, &started),
                 started);
  }
};

}  // namespace

Processes& SystemProcesses() {
  static SystemProcessRunner processes;
  return processes;
}

}  // namespace qlx::platform
