#include "driver/patch_sequence.h"

#include "config/registry_values.h"
#include "database/ktr_database_interface.h"
#include "driver/guarded_step.h"
#include "driver/patch_log.h"
#include "driver/run_control.h"
#include "host/service_control.h"
#include "host/tool_registration.h"

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

bool UpdateVersion() {
  const RegistryRoot root = RegistryRoot::kLocalMachine;
  return UpdateRegistryValue(root, kAddOnKey, "Build", kNewVersion) &&
         UpdateRegistryValue(root, kAddOnKey, "Version", kNewVersion) &&
         UpdateRegistryValue(root, kUninstallKey, "DisplayVersion", kNewVersion) &&
         RefreshToolRegistration();
}

void UpdateDatabaseAndVersion(RunControl& run, KTRDatabaseInterface& session) {
  LogText("Starting updation...\n");
  for (const char* statement : kStatements) {
    run.Act([&] {
      LogText(OutcomeWord(
          Guarded(kPatchModule, "ExecuteQuery", [&] { return session.ExecuteQuery(statement); })));
    });
  }
  run.Act([&] {
    Guarded(kPatchModule, "CloseConnection", [&session] { return session.CloseConnection(); });
  });
  run.Act([] {
    LogText("Updating QLX version...");
    LogText(OutcomeWord(Guarded(kPatchModule, "UpdateVersion", UpdateVersion)));
  });
}

}  // namespace

int RunPatch(RunControl& run) {
  run.Begin();
  LogText("Updating QLX database...\n");
  run.StopService();

  KTRDatabaseInterface session;
  const bool opened = run.Act([&session] {
    return Guarded("KTRDatabaseInterface", "OpenGlobalConnection",
                   [&session] { return session.OpenGlobalConnection(); });
  });
  if (opened) {
    UpdateDatabaseAndVersion(run, session);
  } else {
    LogText("Failed to open database connection\n");
  }

  run.StartService(kStopPendingLimit);
  LogText("QLX database updation completed\n\n");
  // From here on an interruption does nothing; one that came before ends the
  // process here.
  run.Finish();
  return 0;
}

int RunPatch() { return RunPatch(ThisRun()); }

}  // namespace qlx
