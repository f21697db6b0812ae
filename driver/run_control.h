#pragma once

#include <atomic>
#include <chrono>

#include "host/service_control.h"

namespace qlx {

// Every time an interruption may take, in one place.
//
// A Ctrl+C, a Ctrl+Break or a signal leaves the clean-up the time it needs:
// each password file's delete is retried for 1 s, and the start waits for a
// stop still pending as long as the sequence's own start does (30 s).
//
// A session that ends (a closed console, logoff, shutdown) ends the process
// 5 s after Windows tells it (the time-outs of a console's close and of
// WM_ENDSESSION):
//   1.5 s  for the program's thread to claim the clean-up (its waits end at
//          once; a database call it cannot leave does not), else the
//          handler claims it;
//   0.5 s  the deletes of the password files;
//   2.0 s  the start, retried while the stop is still pending;
//   -----
//   4.0 s, a second below Windows' limit.
struct CleanUpBudget {
  std::chrono::milliseconds deletes;
  std::chrono::milliseconds stop_pending;
};
constexpr CleanUpBudget kInterruptedBudget{std::chrono::seconds(1), kStopPendingLimit};
constexpr CleanUpBudget kSessionEndBudget{std::chrono::milliseconds(500), std::chrono::seconds(2)};
constexpr std::chrono::milliseconds kProgramThreadShare{1500};
constexpr std::chrono::milliseconds kSessionEndTotal{4000};

// What RunPatch gives for a run that ended interrupted: the exit code of a
// process a Ctrl+C ended (STATUS_CONTROL_C_EXIT).
constexpr int kInterruptedStatus = static_cast<int>(0xC000013AU);

// The run's service requests and its clean-up after an interruption. The
// program's thread runs the sequence, checks between its steps and, once the
// run is interrupted, cleans up: it ends a log line left open with "Failed",
// logs the interruption on a line of its own, deletes the password files and
// starts the service if this run stopped it. The handler only marks the run
// interrupted and wakes the program's thread, except when the session ends:
// then it gives the program's thread its share of the budget and, should that
// be stuck in a call it cannot leave, cleans up itself. Whoever claims the log
// first cleans up (ClaimLogForCleanUp), and nothing else writes the log after.
// Atomics only, so that a handler may use it while the process ends.
class RunControl {
 public:
  // A fresh run (tests run several in one process).
  void Begin();

  // Between steps: leaves the sequence once the run is interrupted.
  static void Check();

  // Asks for the service to be stopped, logging "Stopping QLX service..." and
  // the outcome.
  void StopService();
  // Asks for the service to be started, logging "Starting QLX service..." and
  // the outcome.
  void StartService(std::chrono::milliseconds stop_pending_limit = kStopPendingLimit);

  // Runs the tool registration as one unit: an interruption that comes
  // during it is taken after it, unless a second one abandons it.
  bool RefreshTools();

  // The end of the sequence: false when an interruption came first.
  static bool Finish();

  // The program's thread, once the run is interrupted: cleans up, or waits
  // for the handler that does; gives kInterruptedStatus.
  int EndInterrupted();

  // The handler. Nothing escapes it.
  void OnInterruption(const char* what, bool session_ending) noexcept;

 private:
  // The clean-up, if this thread is the first to claim it.
  void CleanUp(const CleanUpBudget& budget);
  void RemovePasswordFiles(std::chrono::milliseconds budget);

  // Set right before the stop request, and kept when it succeeds: a handler
  // cleaning up meanwhile starts the service again.
  std::atomic<bool> service_to_start_{false};
  // The tool registration was cut short: the tools may be unregistered.
  std::atomic<bool> tools_at_risk_{false};
  std::atomic<bool> cleaned_up_{false};
};

// The run of this process.
RunControl& ThisRun();

}  // namespace qlx
