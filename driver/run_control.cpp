#include "driver/run_control.h"

#include <cstring>
#include <string>
#include <thread>

#include "database/password_files.h"
#include "driver/guarded_step.h"
#include "driver/patch_log.h"
#include "host/tool_registration.h"
#include "platform/interruption.h"

namespace qlx {
namespace {

using Clock = std::chrono::steady_clock;

// How often the handler looks whether the program's thread has got on.
constexpr std::chrono::milliseconds kHandlerPoll{10};

template <typename Condition>
bool WaitUntil(Clock::time_point deadline, Condition condition) {
  while (!condition()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kHandlerPoll);
  }
  return true;
}

}  // namespace

void RunControl::Begin() {
  platform::BeginRun();
  ReleaseLogClaim();
  service_to_start_ = false;
  tools_at_risk_ = false;
  cleaned_up_ = false;
}

void RunControl::Check() { platform::ThrowIfInterrupted(); }

bool RunControl::Finish() { return platform::FinishRun(); }

void RunControl::StopService() {
  Check();
  LogText("Stopping QLX service...");
  service_to_start_ = true;
  const bool stopped =
      Guarded(kPatchModule, "ServiceStop", [] { return ServiceStop(ServiceName) == 0; });
  if (!stopped) service_to_start_ = false;
  LogText(OutcomeWord(stopped));
}

void RunControl::StartService(std::chrono::milliseconds stop_pending_limit) {
  service_to_start_ = false;
  LogText("Starting QLX service...");
  LogText(OutcomeWord(Guarded(kPatchModule, "ServiceStart", [&] {
    return ServiceStartWaitingAtMost(ServiceName, stop_pending_limit) == 0;
  })));
}

bool RunControl::RefreshTools() {
  // An interruption before the removal skips the unit.
  Check();
  tools_at_risk_ = true;
  const bool refreshed = RefreshToolRegistration();
  // A zqtool that the interruption reached itself (it shares the console)
  // failed as if abandoned.
  tools_at_risk_ = !refreshed && platform::Interruptions() > 0;
  return refreshed;
}

int RunControl::EndInterrupted() {
  CleanUp(platform::SessionEnding() ? kSessionEndBudget : kInterruptedBudget);
  // A handler that claimed the clean-up first is given its time.
  WaitUntil(Clock::now() + kSessionEndTotal, [this] { return cleaned_up_.load(); });
  return kInterruptedStatus;
}

void RunControl::OnInterruption(const char* what, bool session_ending) noexcept {
  try {
    if (!platform::MarkInterrupted(what, session_ending) || !session_ending) return;
    const Clock::time_point began = Clock::now();
    WaitUntil(began + kProgramThreadShare, [] { return LogClaimedForCleanUp(); });
    CleanUp(kSessionEndBudget);
    WaitUntil(began + kSessionEndTotal, [this] { return cleaned_up_.load(); });
  } catch (...) {
    // Windows ends the process all the same.
  }
}

void RunControl::CleanUp(const CleanUpBudget& budget) {
  if (!ClaimLogForCleanUp()) return;
  EndOpenLogLine("Failed\n");
  if (tools_at_risk_) {
    LogModuleMessage(kPatchModule,
                     "Tool registration abandoned: the add-on's tools may be unregistered");
  }
  const char* what = platform::InterruptedBy();
  LogModuleMessage(kPatchModule, std::string("Run interrupted (") + (what ? what : "?") + ")");
  RemovePasswordFiles(budget.deletes);
  if (service_to_start_) {
    if (what && std::strcmp(what, platform::kShutdown) == 0) {
      LogModuleMessage(kPatchModule, "Service left to its start type: the system is shutting down");
    } else {
      StartService(budget.stop_pending);
    }
  }
  cleaned_up_ = true;
}

void RunControl::RemovePasswordFiles(std::chrono::milliseconds budget) {
  Guarded(kPatchModule, "RemovePasswordFiles", [budget] {
    const Clock::time_point deadline = Clock::now() + budget;
    for (const std::string& path : PasswordFilePaths()) RemovePasswordFile(path, deadline);
    return true;
  });
}

RunControl& ThisRun() {
  static RunControl run;
  return run;
}

}  // namespace qlx
