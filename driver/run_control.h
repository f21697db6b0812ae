#pragma once

#include <atomic>
#include <chrono>

#include "host/service_control.h"

namespace qlx {

// Every time an interruption may take. After a Ctrl+C, Ctrl+Break or signal,
// each password file's delete is retried for 1 s, and the start waits for a
// pending stop as long as the sequence's own (30 s). A session that ends (a
// closed console, logoff, shutdown) ends the process 5 s after Windows tells
// it: 1.5 s for the program's thread to claim the clean-up (else the handler
// does), 0.5 s for the deletes, 2 s for the start; 4 s, a second to spare.
struct CleanUpBudget {
  std::chrono::milliseconds deletes;
  std::chrono::milliseconds stop_pending;
};
constexpr CleanUpBudget kInterruptedBudget{std::chrono::seconds(1), kStopPendingLimit};
constexpr CleanUpBudget kSessionEndBudget{std::chrono::milliseconds(500), std::chrono::seconds(2)};
constexpr std::chrono::milliseconds kProgramThreadShare{1500};
constexpr std::chrono::milliseconds kSessionEndTotal{4000};

// The clean-up after an interruption, made by whichever thread claims the
// log first (the program's own, unless it is stuck when a session ends): it
// ends a line left open with "Failed", logs the interruption on a line of its
// own, deletes the password files and starts the service if this run stopped
// it. Atomics only, which the sequence sets as it goes.
class RunControl {
 public:
  void Begin();
  // The program's thread: cleans up, or waits for the handler that does.
  void EndInterrupted();
  // The handler; nothing escapes it.
  void OnInterruption(const char* what, bool session_ending) noexcept;

  std::atomic<bool> service_to_start{false};  // set right before the stop request
  std::atomic<bool> tools_at_risk{false};     // a tool registration cut short

 private:
  void CleanUp(const CleanUpBudget& budget);
  std::atomic<bool> cleaned_up_{false};
};

RunControl& ThisRun();

}  // namespace qlx
