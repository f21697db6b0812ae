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

const char* OutcomeWord(bool succeeded) { return succeeded ? "Successfully\n" : "Failed\n"; }

// Opens the session's connection. An exception here must not keep the
// service from being started again: it is logged and counts as a
// connection that did not open.
bool OpenConnection(KTRDatabaseInterface& session) {
  try {
    return session.OpenGlobalConnection();
  } catch (const CKTRException& error) {
    LogModuleMessage("KTRDatabaseInterface", "OpenGlobalConnection aborted (code " +
                                                 std::to_string(error.Code()) + ", error " +
                                                 std::to_string(error.Error()) + ")");
  } catch (const std::exception& error) {
    LogModuleMessage("KTRDatabaseInterface",
                     std::string("OpenGlobalConnection aborted (") + error.what() + ")");
  } catch (...) {
    LogModuleMessage("KTRDatabaseInterface", "OpenGlobalConnection aborted (unknown error)");
  }
  return false;
}

bool UpdateVersion() {
  const RegistryRoot root = RegistryRoot::kLocalMachine;
  return UpdateRegistryValue(root, kAddOnKey, "Build", kNewVersion) &&
         UpdateRegistryValue(root, kAddOnKey, "Version", kNewVersion) &&
         UpdateRegistryValue(root, kUninstallKey, "DisplayVersion", kNewVersion) &&
         RefreshToolRegistration();
}

void UpdateDatabaseAndVersion(KTRDatabaseInterface& session) {
  LogText("Starting updation...\n");
  for (const char* statement : kStatements) LogText(OutcomeWord(session.ExecuteQuery(statement)));
  session.CloseConnection();

  LogText("Updating QLX version...");
  LogText(OutcomeWord(UpdateVersion()));
}

// Runs a step whose failure must not end the run; an escaping exception is
// logged and counts as the step's failure.
template <typename Step>
bool Guarded(const char* step_name, Step step) {
  try {
    return step();
  } catch (const std::exception& error) {
    LogModuleMessage(step_name, std::string("aborted (") + error.what() + ")");
  } catch (...) {
    LogModuleMessage(step_name, "aborted (unknown error)");
  }
  return false;
}

}  // namespace

int RunPatch() {
  LogText("Updating QLX database...\n");
  LogText("Stopping QLX service...");
  LogText(OutcomeWord(Guarded("ServiceStop", [] { return ServiceStop(ServiceName) == 0; })));

  KTRDatabaseInterface session;
  if (OpenConnection(session)) {
    Guarded("Patch", [&session] {
      UpdateDatabaseAndVersion(session);
      return true;
    });
  } else {
    LogText("Failed to open database connection\n");
  }

  LogText("Starting QLX service...");
  LogText(OutcomeWord(Guarded("ServiceStart", [] { return ServiceStart(ServiceName) == 0; })));
  LogText("QLX database updation completed\n\n");
  return 0;
}

}  // namespace qlx
