#pragma once

// Interruptions: Ctrl+C, Ctrl+Break, a closed console, logoff and shutdown on
// Windows; SIGINT, SIGTERM and SIGHUP on Linux. The handler only marks the
// run and wakes the program's thread, which checks between its steps and in
// its waits and leaves a step cut short by throwing RunInterrupted. Atomics
// alone: safe from any thread, at any moment of the process's life.

namespace qlx::platform {

struct RunInterrupted {};

constexpr char kShutdown[] = "shutdown";

// Gets the name ("Ctrl+C", "SIGTERM", ...) and whether Windows ends the
// process within seconds (a closed console, logoff or shutdown).
using InterruptionHandler = void (*)(const char* what, bool session_ending);

// First thing in main. Linux: the signals are taken by a thread of their own
// (one ignored at start stays ignored), SIGPIPE is ignored. Windows: a console
// control handler, and a hidden window for logoff and shutdown.
void HandleInterruptions(InterruptionHandler handler);

// The handler's side; false, doing nothing, once the run has finished.
bool MarkInterrupted(const char* what, bool session_ending);

void BeginRun();  // the program's side from here
int Interruptions();
const char* InterruptedBy();  // the first one's name
bool SessionEnding();
bool FinishRun();  // false when an interruption came first
inline void ThrowIfInterrupted() {
  if (Interruptions() > 0) throw RunInterrupted{};
}
[[noreturn]] void EndAsInterrupted();  // by the first signal; 0xC000013A on Windows

// Each system's own wake-up of the program's thread from its child waits.
void WakeProgramThread();

}  // namespace qlx::platform
