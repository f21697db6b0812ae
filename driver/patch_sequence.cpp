#include "driver/patch_sequence.h"

#include "config/registry_values.h"
#include "config/version_values.h"
#include "database/ktr_database_interface.h"
#include "database/server_models.h"
#include "driver/guarded_step.h"
#include "driver/patch_log.h"
#include "driver/run_control.h"
#include "host/service_control.h"
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

void UpdateDatabaseAndVersion(RunControl& run, KTRDatabaseInterface& session) {
  LogText("Starting updation...\n");
  for (const ServerModel& model : kServerModels) {
    run.Check();
    LogText(OutcomeWord(
        Guarded(kPatchModule, "ExecuteQuery", [&] { return session.ExecuteQuery(model.insert); })));
  }
  run.Check();
  Guarded(kPatchModule, "CloseConnection", [&session] { return session.CloseConnection(); });
  run.Check();
  LogText("Updating QLX version...");
  LogText(OutcomeWord(Guarded(kPatchModule, "UpdateVersion",
                              [&run] { return UpdateVersionValues() && run.RefreshTools(); })));
}

void RunSequence(RunControl& run) {
  run.Check();
  LogText("Updating QLX database...\n");
  run.StopService();

  KTRDatabaseInterface session;
  run.Check();
  const bool opened = Guarded("KTRDatabaseInterface", "OpenGlobalConnection",
                              [&session] { return session.OpenGlobalConnection(); });
  run.Check();
  if (opened) {
    UpdateDatabaseAndVersion(run, session);
  } else {
    LogText("Failed to open database connection\n");
  }
  run.Check();
  run.StartService();
}

}  // namespace

int RunPatch(RunControl& run) {
  run.Begin();
  try {
    RunSequence(run);
    // From here on an interruption does nothing.
    if (run.Finish()) {
      LogText("QLX database updation completed\n\n");
      return 0;
    }
  } catch (const platform::RunInterrupted&) {
    // Cleaned up below, once the step's own objects are gone.
  }
  return run.EndInterrupted();
}

int RunPatch() { return RunPatch(ThisRun()); }

}  // namespace qlx
