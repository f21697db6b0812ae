#pragma once

// Interruptions of a run: Ctrl+C, Ctrl+Break, a closed console, logoff and
// shutdown on Windows; SIGINT, SIGTERM and SIGHUP on Linux.
//
// The program's own thread does all the work of an interruption. The handler,
// on a thread of its own, only marks the run interrupted and wakes the waits
// the program's thread may be in (a child, a delete retry); the program's
// thread checks between its steps and inside those waits, and leaves a step
// that an interruption cut short by throwing RunInterrupted. The state below
// is atomics only, so it is safe from any thread at any time, also while the
// process ends.

#include <chrono>

namespace qlx::platform {

// Leaves a step that an interruption cut short; the sequence catches it.
struct RunInterrupted {};

// What a shutdown is called; the session that ends then refuses a start.
constexpr char kShutdown[] = "shutdown";

// Called on the handler's thread with what ended the run ("Ctrl+C",
// "Ctrl+Break", "console closed", "logoff", "shutdown", "SIGINT", "SIGTERM" or
// "SIGHUP"). `session_ending` says that Windows ends the process within
// seconds whatever happens (a closed console, logoff or shutdown); the handler
// may then use those seconds. Must not throw.
using InterruptionHandler = void (*)(const char* what, bool session_ending);

// Hands every interruption to the handler. Call it first in main, before any
// thread exists. On Linux the three signals are blocked in every thread and
// taken on a thread of their own (one the process was started with ignored
// stays ignored), and SIGPIPE is ignored, so that a write to a closed pipe
// fails instead of ending the run. On Windows a console control handler
// takes the console's events and a hidden window on a thread of its own takes
// logoff and shutdown, which a program that loads USER32 gets only as window
// messages.
void HandleInterruptions(InterruptionHandler handler);

// The handler's side: counts the interruption, keeps the first one's name and
// wakes the program's thread. False, doing nothing, once the run has finished.
bool MarkInterrupted(const char* what, bool session_ending);

// The program's side.
// A fresh run (tests run several in one process).
void BeginRun();
// How many interruptions have come, 0 for none.
int Interruptions();
// The first interruption's name, or null.
const char* InterruptedBy();
// True once an interruption said that the session ends.
bool SessionEnding();
// Marks the run finished, after which interruptions are dropped; false, when
// an interruption came first.
bool FinishRun();
// Waits for the time given, or until at least `count` interruptions have
// come; true when they have. Only the program's thread waits here.
bool WaitForInterruptions(std::chrono::milliseconds limit, int count = 1);
inline void ThrowIfInterrupted() {
  if (Interruptions() > 0) throw RunInterrupted{};
}
// Wakes the program's thread from its waits (each system's own way).
void WakeProgramThread();
// Ends the process as an interrupted one: killed by the first signal on Linux,
// with the exit code of a Ctrl+C (0xC000013A) on Windows.
[[noreturn]] void EndAsInterrupted();

}  // namespace qlx::platform
