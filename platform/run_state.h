#pragma once

// The one state of a run, shared by the program's thread and an interruption
// (Ctrl+C, a closed console, SIGTERM), which is handled on another thread.
// One lock guards it and orders the log entries. It is held only for short
// bookkeeping, never across an action (a child, a service request, a file
// that is created) nor across any wait for one.
//
// The program's thread marks each action in flight before it begins and done
// after it ends; before marking, it checks the state, and once the run is
// interrupted it parks there for good: it neither goes on nor returns, and
// the interruption ends the process around it. The interruption marks the run
// interrupted and waits, within its own bound, for the action in flight.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qlx::platform {

class RunState {
 public:
  using Lock = std::unique_lock<std::recursive_mutex>;
  using Clock = std::chrono::steady_clock;
  enum class Phase { kRunning, kInterrupted, kFinished };

  // Held while one log entry is written and for every change of the state.
  Lock Hold() { return Lock(mutex_); }
  // Held for one log entry. Between actions the program's thread parks here
  // for good once the run is interrupted, so that no entry of its own
  // follows the interruption's; an action in flight, which the interruption
  // waits for, and the interruption's thread (InterruptionScope) go on.
  Lock HoldForEntry();

  // Marks the calling thread as the interruption's for its scope.
  class InterruptionScope {
   public:
    InterruptionScope();
    ~InterruptionScope();
    InterruptionScope(const InterruptionScope&) = delete;
    InterruptionScope& operator=(const InterruptionScope&) = delete;

   private:
    bool previous_;
  };

  // The program's thread, before an action: parks for good once the run is
  // interrupted, else marks the action in flight. Actions nest (a step and
  // the children it starts); the run is quiet when none is in flight.
  void BeginAction();
  // ... and after it, whatever its outcome.
  void EndAction();
  // The program's thread, right before a request that is part of an action
  // already in flight: parks for good once the run is interrupted.
  void ParkIfInterrupted();

  // The program's thread, at the end of the run: parks when the run was
  // interrupted, else marks it finished, after which an interruption does
  // nothing.
  void Finish();

  // The interruption: marks the run interrupted unless it has finished, and
  // gives the phase it found.
  Phase MarkInterrupted();
  Phase phase() {
    const Lock held = Hold();
    return phase_;
  }
  // True once the run has been interrupted: the interruption has ended the
  // password tool's children, and no further one may start.
  bool interrupted() { return phase() == Phase::kInterrupted; }
  // True once the program's thread has parked.
  bool parked() {
    const Lock held = Hold();
    return parked_;
  }

  // The interruption: waits until no action is in flight (or the program's
  // thread has parked), or until the deadline; true when quiet. The deadline
  // is read afresh on every change, so that another thread may bring it
  // forward (see BringForward).
  bool WaitUntilQuiet(const Clock::time_point* deadline);

  // Waits, with the lock held, until the condition holds or the deadline (read
  // afresh after every change) has passed; gives the condition's last value.
  template <typename Condition>
  bool WaitUntil(Lock& held, const Clock::time_point* deadline, Condition condition) {
    while (!condition()) {
      if (Clock::now() >= *deadline) return false;
      changed_.wait_until(held, *deadline);
    }
    return true;
  }

  // Moves the deadline to `at` if that is earlier, and wakes every waiter.
  void BringForward(Clock::time_point* deadline, Clock::time_point at);

  // Wakes every waiter after a change made under the lock.
  void Changed() { changed_.notify_all(); }

  // A fresh run of the sequence in this process (tests run it more than once).
  void Begin();

 private:
  // Waits for good; the caller holds the lock once.
  [[noreturn]] void Park(Lock& held);

  std::recursive_mutex mutex_;
  std::condition_variable_any changed_;
  Phase phase_ = Phase::kRunning;
  int in_flight_ = 0;
  bool parked_ = false;
};

// Marks an action in flight for its scope (BeginAction and EndAction).
class ActionInFlight {
 public:
  explicit ActionInFlight(RunState& state);
  ~ActionInFlight();
  ActionInFlight(const ActionInFlight&) = delete;
  ActionInFlight& operator=(const ActionInFlight&) = delete;

 private:
  RunState& state_;
};

// The state in force: this process's own unless a ScopedRunState overrides it.
RunState& ThisRunState();

// Puts another state in force until it goes out of scope (tests run several
// runs in one process, each with its own).
class ScopedRunState {
 public:
  explicit ScopedRunState(RunState& replacement);
  ~ScopedRunState();
  ScopedRunState(const ScopedRunState&) = delete;
  ScopedRunState& operator=(const ScopedRunState&) = delete;

 private:
  RunState* previous_;
};

}  // namespace qlx::platform
