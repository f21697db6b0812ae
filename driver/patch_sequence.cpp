#include "driver/patch_sequence.h"

#include "config/registry_values.h"
#include "config/version_values.h"
#include "database/ktr_database_interface.h"
#include "database/server_models.h"
#include "driver/guarded_step.h"
#include "driver/patch_log.h"
#include "driver/run_control.h"
#include "host/service_control.h"
#include "host/tool_registration.h"
#include "platform/interruption.h"

namespace qlx {
namespace {

// Each value in turn; the first that cannot be updated ends the step.
bool UpdateVersionValues() {
  for (const VersionValue& value : kVersionValues) {
    if (!UpdateRegistryValue(RegistryRoot::kLocalMachine, value.key, value.name, kNewVersion)) {
      return false;
    }
  }
  return true;
}

void Check() { platform::ThrowIfInterrupted(); }

// The tool registration as one unit: once under way, a first interruption
// lets it finish.
bool RefreshTools(RunControl& run) {
  Check();  // an interruption before the removal skips it
  run.tools_at_risk = true;
  const bool refreshed = RefreshToolRegistration();
  // A zqtool that the interruption reached itself (it shares the console).
  run.tools_at_risk = !refreshed && platform::Interruptions() > 0;
  return refreshed;
}

void UpdateDatabaseAndVersion(RunControl& run, KTRDatabaseInterface& session) {
  LogText("Starting updation...\n");
  for (const ServerModel& model : kServerModels) {
    Check();
    LogText(OutcomeWord(
        Guarded(kPatchModule, "ExecuteQuery", [&] { return session.ExecuteQuery(model.insert); })));
  }
  Check();
  Guarded(kPatchModule, "CloseConnection", [&session] { return session.CloseConnection(); });
  Check();
  LogText("Updating QLX version...");
  LogText(OutcomeWord(Guarded(kPatchModule, "UpdateVersion",
                              [&run] { return UpdateVersionValues() && RefreshTools(run); })));
}

void RunSequence(RunControl& run) {
  Check();
  LogText("Updating QLX database...\n");
  StopService(run);

  KTRDatabaseInterface session;
  Check();
  const bool opened = Guarded("KTRDatabaseInterface", "OpenGlobalConnection",
                              [&session] { return session.OpenGlobalConnection(); });
  Check();
  if (opened) {
    UpdateDatabaseAndVersion(run, session);
  } else {
    LogText("Failed to open database connection\n");
  }
  Check();
  run.service_to_start = false;
  StartService();
}

}  // namespace

int RunPatch(RunControl& run) {
  run.Begin();
  try {
    RunSequence(run);
    // From here on an interruption does nothing.
    if (platform::FinishRun()) {
      LogText("QLX database updation completed\n\n");
      return 0;
    }
  } catch (const platform::RunInterrupted&) {
    // Cleaned up below, once the step's own objects are gone.
  }
  run.EndInterrupted();
  return kInterruptedStatus;
}

int RunPatch() { return RunPatch(ThisRun()); }

void StopService(RunControl& run) {
  Check();
  LogText("Stopping QLX service...");
  run.service_to_start = true;
  const bool stopped =
      Guarded(kPatchModule, "ServiceStop", [] { return ServiceStop(ServiceName) == 0; });
  if (!stopped) run.service_to_start = false;
  LogText(OutcomeWord(stopped));
}

void StartService(std::chrono::milliseconds stop_pending_limit) {
  LogText("Starting QLX service...");
  LogText(OutcomeWord(Guarded(kPatchModule, "ServiceStart", [&] {
    return ServiceStartWaitingAtMost(ServiceName, stop_pending_limit) == 0;
  })));
}

}  // namespace qlx
