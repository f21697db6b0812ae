#include "driver/run_control.h"

#include <string>

#include "config/host_paths.h"
#include "driver/guarded_step.h"
#include "driver/patch_log.h"
#include "host/service_control.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace qlx {
namespace {

// Windows ends a process whose console is closing after about 5 seconds, so
// an interrupted run waits less than that for a stop still under way.
constexpr std::chrono::seconds kInterruptedStopPendingLimit{3};

// The password tool's output files hold the password in clear text. One that
// a hanging tool still holds open goes when the tool lets go of it.
void RemovePasswordFiles() {
  const std::string directory = AddOnDirectory();
  for (const char* name : {"\\pass1.txt", "\\pass2.txt"}) {
    platform::Current().files->Remove(directory + name);
  }
}

}  // namespace

void RunControl::Begin() {
  Lock held = Hold();
  ContinueUnlessInterrupted(held);
  start_requested_ = false;
}

void RunControl::ContinueUnlessInterrupted() {
  Lock held = Hold();
  ContinueUnlessInterrupted(held);
}

void RunControl::ContinueUnlessInterrupted(Lock& held) {
  // Nothing ever wakes this wait: the interruption ends the process.
  never_.wait(held, [this] { return !interrupted_; });
}

void RunControl::StopService() {
  Lock held = Hold();
  ContinueUnlessInterrupted(held);
  LogText("Stopping QLX service...");
  LogText(OutcomeWord(
      Guarded(kPatchModule, "ServiceStop", [] { return ServiceStop(ServiceName) == 0; })));
}

void RunControl::StartService(std::chrono::milliseconds stop_pending_limit) {
  Lock held = Hold();
  if (start_requested_) return;
  start_requested_ = true;
  LogText("Starting QLX service...");
  LogText(OutcomeWord(Guarded(kPatchModule, "ServiceStart", [&] {
    return ServiceStartWaitingAtMost(ServiceName, stop_pending_limit) == 0;
  })));
}

void RunControl::Interrupt(const char* what) {
  Lock held = Hold();
  if (interrupted_) return;
  interrupted_ = true;
  LogModuleMessage(kPatchModule, std::string("Run interrupted (") + what + ")");
  Guarded(kPatchModule, "RemovePasswordFiles", [] {
    RemovePasswordFiles();
    return true;
  });
  StartService(kInterruptedStopPendingLimit);
}

RunControl& ThisRun() {
  static RunControl run;
  return run;
}

}  // namespace qlx
