#include "driver/run_control.h"

#include <algorithm>
#include <string>

#include "database/password_files.h"
#include "driver/guarded_step.h"
#include "driver/patch_log.h"
#include "platform/platform.h"
#include "platform/processes.h"

namespace qlx {
namespace {

// The sequence's own claim on the start.
constexpr char kSequence = 0;

// At least this long is left for the deletes, whatever the wait before took.
constexpr std::chrono::milliseconds kLeastForDeletes{100};

}  // namespace

void RunControl::Begin() {
  state_.Begin();
  const platform::RunState::Lock held = state_.Hold();
  stop_asked_ = false;
  start_ = Start::kNone;
  start_owner_ = nullptr;
  start_announced_by_ = nullptr;
  cleaned_up_ = false;
  handled_ = false;
}

void RunControl::StopService() {
  Act([this] {
    {
      const platform::RunState::Lock held = state_.Hold();
      stop_asked_ = true;
    }
    LogText("Stopping QLX service...");
    LogText(OutcomeWord(
        Guarded(kPatchModule, "ServiceStop", [] { return ServiceStop(ServiceName) == 0; })));
  });
}

void RunControl::StartService(std::chrono::milliseconds stop_pending_limit) {
  Act([&] {
    {
      const platform::RunState::Lock held = state_.Hold();
      if (start_ != Start::kNone) return;
      start_ = Start::kWaiting;
      start_owner_ = &kSequence;
    }
    RequestStart(&kSequence, stop_pending_limit);
  });
}

void RunControl::RequestStart(const void* owner, std::chrono::milliseconds stop_pending_limit) {
  bool announce = true;
  {
    // The sequence's line was followed by the interruption's entry, so a
    // handler starts a line of its own; another handler's line is still open.
    const platform::RunState::Lock held = state_.Hold();
    announce = start_announced_by_ == nullptr || start_announced_by_ == &kSequence;
    if (announce) start_announced_by_ = owner;
  }
  if (announce) LogText("Starting QLX service...");
  const bool started = Guarded(kPatchModule, "ServiceStart", [&] {
    return ServiceStartWaitingAtMost(ServiceName, stop_pending_limit,
                                     [&] { return ClaimStart(owner); }) == 0;
  });
  {
    const platform::RunState::Lock held = state_.Hold();
    // Taken over while it waited: the one that took it logs the outcome.
    if (start_owner_ != owner) return;
    start_ = Start::kDone;
    state_.Changed();
  }
  LogText(OutcomeWord(started));
}

bool RunControl::ClaimStart(const void* owner) {
  // The sequence's request is one more action, which an interruption stops.
  if (owner == &kSequence) state_.ParkIfInterrupted();
  const platform::RunState::Lock held = state_.Hold();
  if (start_ != Start::kWaiting || start_owner_ != owner) return false;
  start_ = Start::kRequested;
  state_.Changed();
  return true;
}

bool RunControl::Interrupt(const char* what, const InterruptionBounds& bounds) noexcept {
  try {
    const platform::RunState::InterruptionScope interruption;
    switch (state_.MarkInterrupted()) {
      case platform::RunState::Phase::kFinished:
        return false;
      case platform::RunState::Phase::kInterrupted:
        TakeOver(bounds);
        return true;
      case platform::RunState::Phase::kRunning:
        HandleInterruption(what, bounds);
        return true;
    }
  } catch (...) {
    // An allocation or a lock that failed: the process still ends as an
    // interrupted one rather than through std::terminate.
  }
  return true;
}

void RunControl::HandleInterruption(const char* what, const InterruptionBounds& bounds) {
  {
    const platform::RunState::Lock held = state_.Hold();
    actions_deadline_ = Clock::now() + bounds.actions;
    handling_bounds_ = bounds;
  }
  // First the password tool, which may never end by itself; only then the
  // files it may still be writing.
  platform::Current().processes->EndCommandInterpreters();
  state_.WaitUntilQuiet(&actions_deadline_);
  LogModuleMessage(kPatchModule, std::string("Run interrupted (") + what + ")");
  RemovePasswordFiles();
  {
    const platform::RunState::Lock held = state_.Hold();
    cleaned_up_ = true;
    state_.Changed();
  }
  RestoreService(bounds.stop_pending, false);
  const platform::RunState::Lock held = state_.Hold();
  handled_ = true;
  state_.Changed();
}

void RunControl::TakeOver(const InterruptionBounds& bounds) {
  {
    // One that allows no less time than the first waits for it to finish:
    // returning earlier would let the process end under the first's hands.
    platform::RunState::Lock held = state_.Hold();
    if (bounds.stop_pending >= handling_bounds_.stop_pending) {
      Clock::time_point deadline = Clock::now() + handling_bounds_.actions +
                                   handling_bounds_.stop_pending + kLeastForDeletes;
      state_.WaitUntil(held, &deadline, [this] { return handled_; });
      return;
    }
  }
  const Clock::time_point own_deadline = Clock::now() + bounds.actions;
  state_.BringForward(&actions_deadline_, own_deadline);
  {
    // The first one logs and deletes once its wait, now as short as this
    // one's, is over; the start is then for whichever claims it first.
    platform::RunState::Lock held = state_.Hold();
    Clock::time_point deadline = own_deadline + 2 * kLeastForDeletes;
    state_.WaitUntil(held, &deadline, [this] { return cleaned_up_; });
    if (handled_) return;
  }
  RestoreService(bounds.stop_pending, true);
}

void RunControl::RemovePasswordFiles() {
  Clock::time_point deadline{};
  {
    const platform::RunState::Lock held = state_.Hold();
    deadline = std::max(actions_deadline_, Clock::now() + kLeastForDeletes);
  }
  for (const std::string& path : PasswordFilePaths()) {
    Guarded(kPatchModule, "RemovePasswordFiles", [&] {
      RemovePasswordFile(path, deadline);
      return true;
    });
  }
}

void RunControl::RestoreService(std::chrono::milliseconds stop_pending_limit, bool take_over) {
  const char me = 0;
  {
    platform::RunState::Lock held = state_.Hold();
    if (!stop_asked_ || start_ == Start::kDone) return;
    // Only the sequence's wait, or any wait when taking over, is taken from its holder.
    const bool others = start_ == Start::kWaiting && start_owner_ != &kSequence && !take_over;
    if (start_ == Start::kRequested || others) {
      // Waited for, not repeated: a second request would only be refused.
      Clock::time_point deadline = Clock::now() + stop_pending_limit;
      state_.WaitUntil(held, &deadline, [this] { return start_ == Start::kDone; });
      return;
    }
    // Nobody's, or still waiting for a stop under way: this one's now.
    start_ = Start::kWaiting;
    start_owner_ = &me;
    state_.Changed();
  }
  RequestStart(&me, stop_pending_limit);
}

RunControl& ThisRun() {
  static RunControl run;
  return run;
}

}  // namespace qlx
