#include "driver/patch_sequence.h"

#include "config/registry_values.h"
#include "database/ktr_database_interface.h"
#include "driver/guarded_step.h"
#include "driver/patch_log.h"
#include "driver/run_control.h"
#include "host/service_control.h"
#include "platform/interruption.h"

namespace qlx {
namespace {

constexpr char kNewVersion[] = "4.3.1";
constexpr char kAddOnKey[] = "Software\\OV\\Quellmark";
constexpr char kUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OV Quellmark_is1";

const char* const kStatements[] = {
    "INSERT INTO Supported_Servers (Model_Name, Model_Support, Max_Processors, "
    "Hyper_Threading_Support)\tVALUES ('TX540A1', 'TX540A1x', 2 , 1)",
    "INSERT INTO Supported_Servers (Model_Name, Model_Support, Max_Processors, "
    "Hyper_Threading_Support)\tVALUES ('TX520A1', 'TX520A1x', 2 , 1)",
};

bool UpdateVersionValues() {
  const RegistryRoot root = RegistryRoot::kLocalMachine;
  return UpdateRegistryValue(root, kAddOnKey, "Build", kNewVersion) &&
         UpdateRegistryValue(root, kAddOnKey, "Version", kNewVersion) &&
         UpdateRegistryValue(root, kUninstallKey, "DisplayVersion", kNewVersion);
}

void UpdateDatabaseAndVersion(RunControl& run, KTRDatabaseInterface& session) {
  LogText("Starting updation...\n");
  for (const char* statement : kStatements) {
    run.Check();
    LogText(OutcomeWord(
        Guarded(kPatchModule, "ExecuteQuery", [&] { return session.ExecuteQuery(statement); })));
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
