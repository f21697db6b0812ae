// A stand-in for one of the host's command-line tools (zqtool, zqpassword),
// copied under the tool's name into a directory on the PATH. Each run
//   - appends its raw command line and a line feed to "<name>.calls", and its
//     arguments as the C runtime split them, separated by tabs, to
//     "<name>.args",
//   - prints the bytes of "<name><first argument>.out" unchanged, if present,
//   - exits with the number in "<name><first argument>.exit" (0 if absent),
//     or, with a file "<name><first argument>.hang", first creates
//     "<name><first argument>.hanging" and then never exits, holding its
//     output (a file that cmd redirected it to) open; with a file
//     "<name><first argument>.sleep" it creates that file too, and then
//     sleeps the milliseconds the file says before it goes on,
// all files lying next to the program. "zqpassword -e HOST" thus prints
// zqpassword-e.out and exits with zqpassword-e.exit.
//
// Copied under another name next to a file "<name>.forward" that holds a
// program's path, it records its command line the same way and then runs
// that program with the rest of its own command line, unchanged, in its
// console and with its standard handles, and exits with its exit code: a
// recorder in front of the command interpreter.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/win32/handles.h"

namespace {

using qlx::platform::UniqueFile;
using qlx::platform::win32::UniqueKernelHandle;

// The program's own path, split into its directory (with the trailing
// backslash) and its name without the extension.
void OwnLocation(std::string* directory, std::string* name) {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string full(path, length);
  const std::string::size_type slash = full.find_last_of('\\');
  *directory = full.substr(0, slash + 1);
  const std::string file_name = full.substr(slash + 1);
  *name = file_name.substr(0, file_name.find_last_of('.'));
}

void AppendLine(const std::string& path, const std::string& line) {
  const UniqueFile file(std::fopen(path.c_str(), "ab"));
  if (!file) return;
  std::fwrite(line.data(), 1, line.size(), file.get());
  std::fputc('\n', file.get());
}

std::optional<std::string> ReadFile(const std::string& path) {
  const UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::nullopt;
  std::string content;
  char buffer[4096];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0) {
    content.append(buffer, count);
  }
  return content;
}

int ExitCodeFrom(const std::string& path) {
  const std::optional<std::string> text = ReadFile(path);
  return text ? std::atoi(text->c_str()) : 0;
}

// The raw command line without the program's own name (as Windows finds the
// end of the first word: a closing quote, or else the first blank or tab).
std::string ArgumentsPart(const std::string& command_line) {
  std::string::size_type end = 0;
  if (!command_line.empty() && command_line[0] == '"') {
    end = command_line.find('"', 1);
    end = end == std::string::npos ? command_line.size() : end + 1;
  } else {
    end = command_line.find_first_of(" \t");
    if (end == std::string::npos) end = command_line.size();
  }
  return command_line.substr(end);
}

// Runs the program with the given arguments in this console, with the
// standard handles inherited, and returns its exit code.
int RunForwarded(const std::string& program, const std::string& arguments) {
  std::string line = "\"" + program + "\"" + arguments;
  std::vector<char> writable(line.begin(), line.end());
  writable.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return static_cast<int>(GetLastError());
  }
  const UniqueKernelHandle process(info.hProcess);
  const UniqueKernelHandle thread(info.hThread);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD exit_code = 0;
  GetExitCodeProcess(process.get(), &exit_code);
  return static_cast<int>(exit_code);
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  std::string directory;
  std::string name;
  OwnLocation(&directory, &name);
  const std::string command_line = GetCommandLineA();
  AppendLine(directory + name + ".calls", command_line);
  std::string arguments;
  for (int i = 1; i < argc; ++i) arguments += (i > 1 ? "\t" : "") + std::string(argv[i]);
  AppendLine(directory + name + ".args", arguments);

  if (const std::optional<std::string> target = ReadFile(directory + name + ".forward")) {
    return RunForwarded(*target, ArgumentsPart(command_line));
  }

  const std::string stem = directory + name + (argc > 1 ? argv[1] : "");
  if (const std::optional<std::string> output = ReadFile(stem + ".out")) {
    std::fwrite(output->data(), 1, output->size(), stdout);
    std::fflush(stdout);
  }
  if (const std::optional<std::string> pause = ReadFile(stem + ".sleep")) {
    AppendLine(stem + ".hanging", "");
    Sleep(static_cast<DWORD>(std::atoi(pause->c_str())));
  }
  if (ReadFile(stem + ".hang")) {
    AppendLine(stem + ".hanging", "");
    Sleep(INFINITE);
  }
  return ExitCodeFrom(stem + ".exit");
}
