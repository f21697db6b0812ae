#include "driver/run_control.h"

#include <cstring>
#include <string>
#include <thread>

#include "database/password_files.h"
#include "driver/guarded_step.h"
#include "driver/patch_log.h"
#include "driver/patch_sequence.h"
#include "platform/interruption.h"

namespace qlx {
namespace {

using Clock = std::chrono::steady_clock;

template <typename Condition>
void WaitUntil(Clock::time_point deadline, Condition condition) {
  while (!condition() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the handler's poll
  }
}

}  // namespace

void RunControl::Begin() {
  platform::BeginRun();
  ReleaseLogClaim();
  service_to_start = tools_at_risk = cleaned_up_ = false;
}

void RunControl::EndInterrupted() {
  CleanUp(platform::SessionEnding() ? kSessionEndBudget : kInterruptedBudget);
  WaitUntil(Clock::now() + kSessionEndTotal, [this] { return cleaned_up_.load(); });
}

void RunControl::OnInterruption(const char* what, bool session_ending) noexcept {
  try {
    if (!platform::MarkInterrupted(what, session_ending) || !session_ending) return;
    const Clock::time_point began = Clock::now();
    WaitUntil(began + kProgramThreadShare, [] { return LogClaimedForCleanUp(); });
    CleanUp(kSessionEndBudget);
    WaitUntil(began + kSessionEndTotal, [this] { return cleaned_up_.load(); });
  } catch (...) {  // Windows ends the process all the same
  }
}

void RunControl::CleanUp(const CleanUpBudget& budget) {
  if (!ClaimLogForCleanUp()) return;
  EndOpenLogLine("Failed\n");
  if (tools_at_risk) {
    LogModuleMessage(kPatchModule,
                     "Tool registration abandoned: the add-on's tools may be unregistered");
  }
  const char* what = platform::InterruptedBy();
  LogModuleMessage(kPatchModule, std::string("Run interrupted (") + (what ? what : "?") + ")");
  RemovePasswordFiles(budget.deletes);
  if (service_to_start && what && std::strcmp(what, platform::kShutdown) == 0) {
    LogModuleMessage(kPatchModule, "Service left to its start type: the system is shutting down");
  } else if (service_to_start) {
    StartService(budget.stop_pending);
  }
  cleaned_up_ = true;
}

RunControl& ThisRun() {
  static RunControl run;
  return run;
}

}  // namespace qlx
