#pragma once

#include <chrono>

#include "host/service_control.h"
#include "platform/run_state.h"

namespace qlx {

// How long an interruption waits: for the action in flight and the deletes
// of the password files, and for a stop still under way before it asks for
// the start.
struct InterruptionBounds {
  std::chrono::milliseconds actions;
  std::chrono::milliseconds stop_pending;
};

// Ctrl+C, Ctrl+Break, SIGINT, SIGTERM and SIGHUP leave the handler all the
// time it needs: a stop under way is waited for as long as the sequence's own
// start waits for it.
constexpr InterruptionBounds kInterruptionBounds{std::chrono::seconds(5), kStopPendingLimit};

// Windows ends a process whose console is closing after about 5 seconds.
constexpr InterruptionBounds kClosedConsoleBounds{std::chrono::seconds(1), std::chrono::seconds(2)};

// The policy of a run over its state (platform/run_state.h): the service
// requests of the sequence, and what an interruption does.
class RunControl {
 public:
  explicit RunControl(platform::RunState& state = platform::ThisRunState()) : state_(state) {}

  // A fresh run: nothing asked of the service yet.
  void Begin();

  // Runs one step of the sequence, with its log entries, as an action in
  // flight; once the run is interrupted the step is not begun.
  template <typename Step>
  auto Act(Step step) {
    const platform::ActionInFlight in_flight(state_);
    return step();
  }

  // Asks for the service to be stopped, logging "Stopping QLX service..." and
  // the outcome.
  void StopService();
  // Asks for the service to be started, logging "Starting QLX service..."
  // and the outcome, unless that was asked for already in this run.
  void StartService(std::chrono::milliseconds stop_pending_limit);

  // The end of the run's sequence: after it an interruption does nothing.
  void Finish() { state_.Finish(); }

  // The interruption, on its own thread: marks the run interrupted, ends the
  // password tool, waits within its bounds for the action in flight, logs
  // "QLXPatch - Run interrupted (<what>)", deletes the password files and
  // starts the service if this run stopped it and no start has been done. A
  // later one with tighter bounds (a console closing meanwhile) takes over.
  // True when the run ends as interrupted; false, having done nothing, when
  // it had already finished. Nothing escapes it.
  bool Interrupt(const char* what, const InterruptionBounds& bounds) noexcept;

 private:
  using Clock = platform::RunState::Clock;
  // Who holds the start: nobody, one waiting for a stop under way, one whose
  // request is under way, or it is done.
  enum class Start { kNone, kWaiting, kRequested, kDone };

  void HandleInterruption(const char* what, const InterruptionBounds& bounds);
  void TakeOver(const InterruptionBounds& bounds);
  void RemovePasswordFiles();
  // The start as the interruption makes it: waits for one already requested,
  // else takes it over from the sequence still waiting (from anyone when
  // `take_over`), or makes it.
  void RestoreService(std::chrono::milliseconds stop_pending_limit, bool take_over);
  // Asks for the start on behalf of `owner`, which holds it waiting.
  void RequestStart(const void* owner, std::chrono::milliseconds stop_pending_limit);
  // Right before the request: true when `owner` still holds the start.
  bool ClaimStart(const void* owner);

  platform::RunState& state_;
  bool stop_asked_ = false;
  Start start_ = Start::kNone;
  const void* start_owner_ = nullptr;
  // Who logged "Starting QLX service..." last: a handler that takes over
  // another handler's start completes that line instead of repeating it.
  const void* start_announced_by_ = nullptr;
  // The interruption under way has logged and deleted, and has ended.
  bool cleaned_up_ = false;
  bool handled_ = false;
  Clock::time_point actions_deadline_{};
  // The bounds of the interruption under way.
  InterruptionBounds handling_bounds_ = kInterruptionBounds;
};

// The run of this process.
RunControl& ThisRun();

}  // namespace qlx
