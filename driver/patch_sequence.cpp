#include "driver/patch_sequence.h"

#include <exception>
#include <string>

#include "config/registry_values.h"
#include "database/ktr_database_interface.h"
#include "database/ktr_exception.h"
#include "driver/patch_log.h"
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

// The module under which the sequence logs an exception of its own steps.
constexpr char kPatchModule[] = "QLXPatch";

const char* OutcomeWord(bool succeeded) { return succeeded ? "Successfully\n" : "Failed\n"; }

bool UpdateVersion() {
  const RegistryRoot root = RegistryRoot::kLocalMachine;
  return UpdateRegistryValue(root, kAddOnKey, "Build", kNewVersion) &&
         UpdateRegistryValue(root, kAddOnKey, "Version", kNewVersion) &&
         UpdateRegistryValue(root, kUninstallKey, "DisplayVersion", kNewVersion) &&
         RefreshToolRegistration();
}

// Runs a step whose exception must not end the run, so that the service is
// always started again: the exception is logged as
// "<module> - <operation> aborted (<reason>)" and counts as the step's failure.
template <typename Step>
bool Guarded(const char* module, const char* operation, Step step) {
  std::string reason;
  try {
    return step();
  } catch (const CKTRException& error) {
    reason = "code " + std::to_string(error.Code()) + ", error " + std::to_string(error.Error());
  } catch (const std::exception& error) {
    reason = error.what();
  } catch (...) {
    reason = "unknown error";
  }
  LogModuleMessage(module, std::string(operation) + " aborted (" + reason + ")");
  return false;
}

void UpdateDatabaseAndVersion(KTRDatabaseInterface& session) {
  LogText("Starting updation...\n");
  for (const char* statement : kStatements) {
    LogText(OutcomeWord(
        Guarded(kPatchModule, "ExecuteQuery", [&] { return session.ExecuteQuery(statement); })));
  }
  Guarded(kPatchModule, "CloseConnection", [&session] { return session.CloseConnection(); });

  LogText("Updating QLX version...");
  LogText(OutcomeWord(Guarded(kPatchModule, "UpdateVersion", UpdateVersion)));
}

}  // namespace

int RunPatch() {
  LogText("Updating QLX database...\n");
  LogText("Stopping QLX service...");
  LogText(OutcomeWord(
      Guarded(kPatchModule, "ServiceStop", [] { return ServiceStop(ServiceName) == 0; })));

  KTRDatabaseInterface session;
  if (Guarded("KTRDatabaseInterface", "OpenGlobalConnection",
              [&session] { return session.OpenGlobalConnection(); })) {
    UpdateDatabaseAndVersion(session);
  } else {
    LogText("Failed to open database connection\n");
  }

  LogText("Starting QLX service...");
  LogText(OutcomeWord(
      Guarded(kPatchModule, "ServiceStart", [] { return ServiceStart(ServiceName) == 0; })));
  LogText("QLX database updation completed\n\n");
  return 0;
}

}  // namespace qlx
