// Starts a program in this console and interrupts it as a user at that
// console would:
//   qlx_interrupt_launcher.exe ctrl-c|ctrl-break|end-session TRIGGER PROGRAM
// Once the file TRIGGER exists, or after 60 s, it sends CTRL_C_EVENT to
// process group 0, every process of the console, since Ctrl+C cannot be sent to another group and a
// new group ignores it; or CTRL_BREAK_EVENT to the program's own group (it is started in a new one
// for that); or it ends the session as Wine does, with "wineboot --end-session", which sends every
// top-level window WM_QUERYENDSESSION and WM_ENDSESSION and then ends its process. It exits with
// the program's exit code (also printed, as "exit code 0x%08X"), or 4 when the system refused to
// send the event. Its own handler swallows the event, and it ignores nothing for its children.
// Without a console, it makes one first.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/handles.h"

namespace {

using qlx::platform::win32::UniqueKernelHandle;

constexpr DWORD kTriggerLimitMs = 60000;
constexpr DWORD kPollMs = 20;
// The exit code when the system would not send the event.
constexpr int kEventNotSent = 4;

BOOL WINAPI SwallowEvent(DWORD) { return TRUE; }

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// Runs the command line and waits for it; false when it cannot start.
bool RunAndWait(std::string line) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return false;
  }
  const UniqueKernelHandle process(info.hProcess);
  const UniqueKernelHandle thread(info.hThread);
  WaitForSingleObject(process.get(), INFINITE);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const bool ctrl_break = std::strcmp(argv[1], "ctrl-break") == 0;
  // Started without a console of its own (output into files), it makes
  // one, which the program then shares: console events need one.
  if (!AllocConsole()) {
    // Attached to a stand-in that carries no events: a console of its own.
    FreeConsole();
    if (!AllocConsole()) std::fprintf(stderr, "no console: error %lu\n", GetLastError());
  }
  SetConsoleCtrlHandler(SwallowEvent, TRUE);

  std::string line = std::string("\"") + argv[3] + "\"";
  std::vector<char> writable(line.begin(), line.end());
  writable.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const DWORD flags = ctrl_break ? CREATE_NEW_PROCESS_GROUP : 0;
  if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                      &startup, &info)) {
    return 3;
  }
  const UniqueKernelHandle process(info.hProcess);
  const UniqueKernelHandle thread(info.hThread);

  for (DWORD waited = 0; waited < kTriggerLimitMs && !Exists(argv[2]); waited += kPollMs) {
    if (WaitForSingleObject(process.get(), kPollMs) == WAIT_OBJECT_0) break;
  }
  const bool end_session = std::strcmp(argv[1], "end-session") == 0;
  const BOOL sent = end_session  ? RunAndWait("wineboot.exe --end-session")
                    : ctrl_break ? GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, info.dwProcessId)
                                 : GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  if (!sent) {
    std::fprintf(stderr, "the event was not sent: error %lu\n", GetLastError());
    // Nothing else would end a program that waits for a hanging tool.
    TerminateProcess(process.get(), 1);
    return kEventNotSent;
  }
  WaitForSingleObject(process.get(), INFINITE);
  DWORD exit_code = 0;
  GetExitCodeProcess(process.get(), &exit_code);
  std::printf("exit code 0x%08lX\n", exit_code);
  return static_cast<int>(exit_code);
}
