#include "platform/run_state.h"

#include <atomic>

namespace qlx::platform {
namespace {

RunState& ProcessRunState() {
  static RunState state;
  return state;
}

std::atomic<RunState*> current_state{nullptr};

thread_local bool interruption_thread = false;

}  // namespace

RunState::Lock RunState::HoldForEntry() {
  Lock held = Hold();
  // An action in flight finishes, entries and all: the interruption waits
  // for it. Between actions the program's thread parks at its next entry.
  if (phase_ == Phase::kInterrupted && in_flight_ == 0 && !interruption_thread) Park(held);
  return held;
}

RunState::InterruptionScope::InterruptionScope() : previous_(interruption_thread) {
  interruption_thread = true;
}

RunState::InterruptionScope::~InterruptionScope() { interruption_thread = previous_; }

void RunState::Begin() {
  Lock held = Hold();
  if (phase_ == Phase::kInterrupted) Park(held);
  phase_ = Phase::kRunning;
  in_flight_ = 0;
}

void RunState::BeginAction() {
  Lock held = Hold();
  if (phase_ == Phase::kInterrupted) Park(held);
  ++in_flight_;
}

void RunState::ParkIfInterrupted() {
  Lock held = Hold();
  if (phase_ == Phase::kInterrupted) Park(held);
}

void RunState::EndAction() {
  const Lock held = Hold();
  --in_flight_;
  Changed();
}

void RunState::Finish() {
  Lock held = Hold();
  if (phase_ == Phase::kInterrupted) Park(held);
  phase_ = Phase::kFinished;
  Changed();
}

RunState::Phase RunState::MarkInterrupted() {
  const Lock held = Hold();
  const Phase found = phase_;
  if (found == Phase::kRunning) phase_ = Phase::kInterrupted;
  Changed();
  return found;
}

bool RunState::WaitUntilQuiet(const Clock::time_point* deadline) {
  Lock held = Hold();
  return WaitUntil(held, deadline, [this] { return in_flight_ == 0 || parked_; });
}

void RunState::BringForward(Clock::time_point* deadline, Clock::time_point at) {
  const Lock held = Hold();
  if (at < *deadline) *deadline = at;
  Changed();
}

void RunState::Park(Lock& held) {
  parked_ = true;
  Changed();
  // Nothing ends this wait: the interruption ends the process around it.
  for (;;) changed_.wait(held);
}

ActionInFlight::ActionInFlight(RunState& state) : state_(state) { state_.BeginAction(); }
ActionInFlight::~ActionInFlight() { state_.EndAction(); }

RunState& ThisRunState() {
  RunState* const replacement = current_state.load();
  return replacement ? *replacement : ProcessRunState();
}

ScopedRunState::ScopedRunState(RunState& replacement) : previous_(current_state.load()) {
  current_state.store(&replacement);
}

ScopedRunState::~ScopedRunState() { current_state.store(previous_); }

}  // namespace qlx::platform
