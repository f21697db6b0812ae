#include "check/checks.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "config/database_kind.h"
#include "config/host_paths.h"
#include "config/properties_file.h"
#include "config/registry_values.h"
#include "config/version_values.h"
#include "database/ktr_database_interface.h"
#include "database/ktr_exception.h"
#include "database/server_models.h"
#include "host/service_control.h"
#include "platform/database.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/services.h"
#include "platform/system_messages.h"
#include "platform/windows_codes.h"

namespace qlx::check {
namespace {

constexpr char kOnACopy[] = "not checked on a copy of the server";
constexpr char kOracle[] = "Oracle";
// How long --after waits for a start still under way.
constexpr std::chrono::seconds kStartPendingLimit{30};
constexpr std::chrono::milliseconds kStatePoll{250};

Row Ok(const char* name, std::string found) { return {Status::kOk, name, std::move(found), ""}; }
Row Warn(const char* name, std::string found, std::string fix) {
  return {Status::kWarn, name, std::move(found), std::move(fix)};
}
Row Fail(const char* name, std::string found, std::string fix) {
  return {Status::kFail, name, std::move(found), std::move(fix)};
}
Row Skip(const char* name, std::string why) { return {Status::kSkip, name, std::move(why), ""}; }

// "error <code>: <the system's text>", or the code alone.
std::string ErrorText(uint32_t code) {
  std::string text = "error " + std::to_string(code);
  if (const auto message = platform::Current().messages->Text(code)) {
    text += ": " + WithoutTrailingLineBreaks(*message);
  }
  return text;
}

std::string Hex(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", code);
  return text;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

std::string Trimmed(std::string text) {
  TrimTrailingWhiteSpace(text);
  const auto first = std::find_if_not(text.begin(), text.end(), IsWhiteSpace);
  return std::string(first, text.end());
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
  std::string joined;
  for (const std::string& part : parts) joined += (joined.empty() ? "" : separator) + part;
  return joined;
}

bool NotHere(const platform::Result<>& result) {
  return !result && result.error() == platform::kErrorNotSupported;
}

// --- what the patch will reach --------------------------------------------------

// The database the patch chooses, as it chooses it.
struct Kind {
  std::string path;
  bool opened = false;
  uint32_t open_error = 0;
  std::optional<std::string> raw;  // dbType as the file holds it
  bool oracle = false;
};

Kind ReadKind() {
  Kind kind;
  kind.path = HostDirectory() + "\\config\\globalsettings.props";
  kind.opened = ScanPropertiesFile(
      kind.path,
      [&kind](const std::string& key, const std::string& value) {
        if (key != "dbType") return true;
        kind.raw = value;
        return false;
      },
      &kind.open_error);
  // Only a file that opens is handed to the patch's own reader, which tells
  // the console when it does not.
  kind.oracle = kind.opened && GetDatabaseType() == kOracle;
  return kind;
}

Row KindRow(const Kind& kind) {
  const char* name = "Database kind";
  if (!kind.opened) {
    return Fail(name,
                kind.path + " cannot be opened (" + ErrorText(kind.open_error) +
                    "): the patch says so on the console and takes SQL Server",
                "restore the host's config\\globalsettings.props");
  }
  const std::string shown = kind.raw ? "dbType=" + *kind.raw : "no dbType in " + kind.path;
  if (!kind.oracle && kind.raw && EqualIgnoringCase(Trimmed(*kind.raw), kOracle)) {
    return Fail(
        name, shown + ": the patch matches \"Oracle\" exactly and would take SQL Server",
        "write dbType=Oracle, in that letter case and without blanks before it, in " + kind.path);
  }
  return Ok(name, shown + ": the patch connects to " + (kind.oracle ? "Oracle" : "SQL Server"));
}

// A connection string's attributes, as "name=value" texts, with the
// password's value never shown.
std::vector<std::string> ShownAttributes(const std::string& connection_string) {
  std::vector<std::string> shown;
  std::size_t at = 0;
  while (at < connection_string.size()) {
    const std::size_t equals = connection_string.find('=', at);
    if (equals == std::string::npos) break;
    const std::string name = connection_string.substr(at, equals - at);
    std::size_t end = equals + 1;
    const char quote = end < connection_string.size() ? connection_string[end] : '\0';
    if (quote == '"' || quote == '\'') {
      for (++end; end < connection_string.size(); ++end) {
        if (connection_string[end] != quote) continue;
        if (end + 1 < connection_string.size() && connection_string[end + 1] == quote) {
          ++end;
        } else {
          ++end;
          break;
        }
      }
    }
    end = std::min(connection_string.find(';', end), connection_string.size());
    const std::string value = connection_string.substr(equals + 1, end - equals - 1);
    if (name == "Password") {
      shown.push_back(name + (value.empty() ? "=(none)" : "=(from the password store)"));
    } else {
      shown.push_back(name + "=" + value);
    }
    at = end + 1;
  }
  return shown;
}

// The connection the patch would open, built by its own readers.
struct Target {
  std::string connection_string;
  int command_timeout = 0;
  bool usable = false;
};

Row ConnectionRow(const Kind& kind, Target* target) {
  const char* name = "Connection";
  KTRDatabaseInterface session;
  try {
    target->connection_string = kind.oracle ? session.GetOracleDatabaseParameters()
                                            : session.GetSQLServerDatabaseParameters();
  } catch (const CKTRException& error) {
    return Fail(name,
                HostDirectory() + "\\config\\database.props cannot be opened (" +
                    ErrorText(error.Error()) + ")",
                "restore the host's config\\database.props");
  }
  if (target->connection_string.empty()) {
    return Fail(name, AddOnDirectory() + "\\qlxdatabase.props cannot be opened",
                "restore the add-on's qlxdatabase.props");
  }
  target->command_timeout = session.GetQueryTimeout();
  const std::string timeout_path = AddOnDirectory() + "\\Query_Timeout.txt";
  const bool timeout_file = static_cast<bool>(platform::Current().files->Open(timeout_path, "r"));
  const std::string found =
      Joined(ShownAttributes(target->connection_string), ";") + "; connection time-out " +
      std::to_string(KTRDatabaseInterface::kConnectionTimeoutSeconds) + " s; command time-out " +
      (timeout_file ? std::to_string(target->command_timeout) + " s (Query_Timeout.txt)"
                    : "60 s (Query_Timeout.txt will be created with 60)");
  if (kind.oracle && target->connection_string.find(";Password=;") != std::string::npos) {
    return Fail(name, found + ": the password store gave no password",
                "run, as this account, hostname and then zqpassword -e <host name>: each must "
                "print its answer");
  }
  target->usable = true;
  return Ok(name, found);
}

Row ProviderRow(const Kind& kind) {
  const char* name = "Provider";
  const std::string provider = kind.oracle ? "OraOLEDB.Oracle" : "sqloledb";
  const platform::Result<> created = platform::Current().database->CreateProvider(provider);
  if (NotHere(created)) return Skip(name, kOnACopy);
  if (created) return Ok(name, provider + " can be created in this 32-bit program");
  return Fail(name, provider + " cannot be created here (" + Hex(created.error()) + ")",
              kind.oracle ? "install the 32-bit Oracle client with OraOLEDB (Oracle Provider for "
                            "OLE DB)"
                          : "repair Windows' own sqloledb (Microsoft OLE DB Provider for SQL "
                            "Server)");
}

std::string Describe(const platform::ComError& error) {
  if (error.Description() && !error.Description()->empty()) return *error.Description();
  const uint32_t code = static_cast<uint32_t>(error.Error());
  const auto message = platform::Current().messages->Text(code);
  return Hex(code) + (message ? " " + WithoutTrailingLineBreaks(*message) : "");
}

std::string SelectModel(const char* model) {
  return std::string("SELECT Model_Name FROM Supported_Servers WHERE Model_Name = '") + model + "'";
}

// One open, so one logon, and a question for each model: the models in the
// table, or what went wrong.
struct Models {
  std::optional<std::string> error;
  std::vector<std::string> present;
};

Models FindModels(const Target& target) {
  Models models;
  platform::DatabaseDriver& driver = *platform::Current().database;
  if (!driver.InitializeCom()) return {std::string("COM cannot be brought into use"), {}};
  const std::unique_ptr<platform::Connection> connection = driver.CreateConnection();
  if (!connection) return {std::string("no ADO Connection object can be made"), {}};
  try {
    connection->PutConnectionString(target.connection_string);
    connection->PutConnectionTimeout(KTRDatabaseInterface::kConnectionTimeoutSeconds);
    connection->PutCommandTimeout(target.command_timeout);
    connection->Open();
    for (const ServerModel& model : kServerModels) {
      const std::unique_ptr<platform::Recordset> rows =
          connection->Execute(SelectModel(model.name));
      if (rows && !rows->AtEnd()) models.present.push_back(model.name);
      if (rows) rows->Close();
    }
    connection->Close();
  } catch (const platform::ComError& error) {
    models.error = Describe(error);
  }
  return models;
}

Row DatabaseRow(const Models& models) {
  const char* name = "Database";
  if (models.error) {
    return Fail(name, "the connection fails or Supported_Servers cannot be read: " + *models.error,
                "see that the database server answers and this account may log on and read "
                "Supported_Servers");
  }
  return Ok(name, "the connection opens and Supported_Servers can be read");
}

Row ModelsRow(const Models& models) {
  const char* name = "Models";
  if (models.present.empty()) return Ok(name, "neither TX540A1 nor TX520A1 is there yet");
  return Warn(name,
              Joined(models.present, " and ") +
                  " already there: its INSERT will fail on a duplicate; the patch logs it and "
                  "goes on",
              "nothing to do unless the rows were added by hand with other values");
}

// --- the registry, the service, the host's tools, the files ------------------

Row DirectoriesRow() {
  const char* name = "Directories";
  std::vector<std::string> found;
  std::vector<std::string> problems;
  const std::pair<const char*, std::string> directories[] = {{"InstallPath", HostDirectory()},
                                                             {"ExtensionBase", AddOnDirectory()}};
  for (const auto& [value, path] : directories) {
    found.push_back(std::string(value) + "=" + path);
    if (path == " ") {
      problems.push_back(std::string(value) + " cannot be read");
    } else if (!platform::Current().files->IsDirectory(path)) {
      problems.push_back(std::string(value) + "=" + path + " names no directory");
    }
  }
  if (!problems.empty()) {
    return Fail(name, Joined(problems, "; "),
                "InstallPath is in HKLM\\SOFTWARE\\Orvanta\\Vantline\\Settings and ExtensionBase "
                "in HKLM\\SOFTWARE\\OV\\Quellmark (the 32-bit view on a 64-bit server): set them "
                "to the installed folders");
  }
  return Ok(name, Joined(found, ", "));
}

Row VersionRow() {
  const char* name = "Version values";
  std::vector<std::string> found;
  std::vector<std::string> problems;
  int patched = 0;
  for (const VersionValue& value : kVersionValues) {
    const std::string where = std::string(value.key) + "\\" + value.name;
    const auto key = platform::Current().registry->OpenLocalMachineKey(
        value.key, platform::KeyAccess::kQueryAndSet);
    if (!key) {
      problems.push_back(where + " cannot be opened for writing (" + ErrorText(key.error()) + ")");
      continue;
    }
    const std::string text = ReadRegistryValue(RegistryRoot::kLocalMachine, value.key, value.name);
    const auto data = (*key)->QueryValue(value.name);
    const bool string_type =
        data && (data->type == platform::kRegSz || data->type == platform::kRegExpandSz ||
                 data->type == platform::kRegMultiSz);
    if (!data || text == " " || !string_type) {
      problems.push_back(where + (data ? " holds no text" : " does not exist"));
      continue;
    }
    found.push_back(std::string(value.name) + "=" + text);
    if (text == kNewVersion) ++patched;
  }
  if (!problems.empty()) {
    return Fail(name, Joined(problems, "; ") + ": the version step would fail",
                "the patch updates only existing text values: run elevated, or repair the "
                "add-on's installation");
  }
  if (patched == static_cast<int>(std::size(kVersionValues))) {
    return Warn(name, Joined(found, ", ") + ": already patched",
                "nothing to do; a second run registers the tools afresh and logs the duplicate "
                "rows");
  }
  return Ok(name, Joined(found, ", "));
}

platform::Result<platform::ServiceStatus> ReadServiceStatus() {
  const auto manager = platform::Current().services->OpenManager();
  if (!manager) return platform::Failure{manager.error()};
  const auto service = (*manager)->OpenNamedService(ServiceName);
  if (!service) return platform::Failure{service.error()};
  return (*service)->Status();
}

Row ServiceRow() {
  const char* name = "Service";
  const std::string service = std::string("\"") + ServiceName + "\"";
  const auto status = ReadServiceStatus();
  if (!status) {
    return Fail(name,
                service + " cannot be opened with the rights the patch asks for (" +
                    ErrorText(status.error()) + ")",
                "run elevated, and check sc.exe query \"OV Quellmark\"");
  }
  const std::string rights =
      platform::RunsOnStandIns() ? " (its rights are " + std::string(kOnACopy) + ")" : "";
  if (status->disabled) {
    return Fail(name, service + " is disabled: the patch's start would fail",
                "set its start type back (sc.exe config \"OV Quellmark\" start= demand, or "
                "auto) before the patch");
  }
  if (status->state != platform::ServiceState::kRunning) {
    return Warn(name, service + " is not running: the patch will start it" + rights,
                "if it must stay stopped, stop it again after the patch");
  }
  return Ok(name, service + " is running" + rights);
}

Row HostToolsRow(const Kind& kind) {
  const char* name = "Host tools";
  std::vector<const char*> tools = {"zqtool", "hostname"};
  if (kind.oracle) tools.push_back("zqpassword");
  std::vector<std::string> found;
  std::vector<std::string> missing;
  for (const char* tool : tools) {
    const platform::Result<std::string> path = platform::Current().processes->WhereCmdFinds(tool);
    if (!path && path.error() == platform::kErrorNotSupported) return Skip(name, kOnACopy);
    if (path) {
      found.push_back(std::string(tool) + "=" + *path);
    } else {
      missing.push_back(tool);
    }
  }
  if (!missing.empty()) {
    const char* path = std::getenv("PATH");
    return Fail(name,
                "cmd would not find " + Joined(missing, ", ") + " on PATH=" + (path ? path : ""),
                "add the host's Tools folder (and Windows' System32) to the system variable "
                "Path, then open a new prompt");
  }
  return Ok(name, Joined(found, ", "));
}

Row ToolFilesRow(const std::string& directory) {
  const char* name = "Tool files";
  const std::string new_file = directory + "\\qlxtools.xml";
  const std::string installed = HostDirectory() + "\\Tools\\qlxtools.xml";
  if (!platform::Current().files->Open(new_file, "r")) {
    return Fail(name, "no qlxtools.xml in " + directory,
                "put the new qlxtools.xml (4.3.1) beside the patch, in the folder it runs from");
  }
  const platform::Result<> writable = platform::Current().files->ProbeWrite(installed);
  if (!writable) {
    return Fail(name, installed + " cannot be replaced (" + ErrorText(writable.error()) + ")",
                "run elevated, and see that the file is not read-only");
  }
  return Ok(name, new_file + " is there; " + installed + " may be replaced");
}

Row LogRow(const std::string& directory) {
  const char* name = "Log";
  if (platform::RunsOnStandIns()) return Skip(name, kOnACopy);
  const platform::Result<> writable =
      platform::Current().files->ProbeWrite(directory + "\\QLX_patch.log");
  if (!writable) {
    return Fail(name,
                directory + " does not accept QLX_patch.log (" + ErrorText(writable.error()) +
                    "): the run would have no account",
                "run the patch from a folder this account may write to");
  }
  return Ok(name, directory + " accepts QLX_patch.log");
}

Row FoldersRow(const std::string& directory) {
  const char* name = "Folders";
  std::vector<std::string> folders = {directory};
  if (const auto own = platform::ProgramDirectory(); own && *own != directory) {
    folders.push_back(*own);
  }
  std::vector<std::string> open;
  for (const std::string& folder : folders) {
    const auto writers = platform::OtherWritersOf(folder);
    if (!writers && writers.error() == platform::kErrorNotSupported) return Skip(name, kOnACopy);
    if (writers && !writers->empty()) {
      open.push_back(folder + " (" + Joined(*writers, ", ") + ")");
    }
  }
  if (!open.empty()) {
    return Warn(name,
                "others may write into " + Joined(open, "; ") +
                    ": a program planted there could run elevated",
                "move the package into a folder only Administrators may write to, e.g. icacls "
                "<folder> /inheritance:r /grant:r Administrators:(OI)(CI)F SYSTEM:(OI)(CI)F");
  }
  return Ok(name, "only Administrators, SYSTEM and this account may write into " +
                      Joined(folders, " and "));
}

Row ElevationRow() {
  const char* name = "Elevation";
  const platform::Result<bool> elevated = platform::IsElevated();
  if (!elevated) return Skip(name, kOnACopy);
  if (*elevated) return Ok(name, "the program runs elevated");
  return Fail(name,
              "not elevated: the registry writes and the service requests would be refused "
              "with 5",
              "open the prompt with \"Run as administrator\"");
}

// --- after the patch -------------------------------------------------------------

Row VersionAfterRow() {
  const char* name = "Version values";
  std::vector<std::string> found;
  bool all = true;
  for (const VersionValue& value : kVersionValues) {
    const std::string text = ReadRegistryValue(RegistryRoot::kLocalMachine, value.key, value.name);
    found.push_back(std::string(value.name) + "=" + text);
    all = all && text == kNewVersion;
  }
  if (all) return Ok(name, Joined(found, ", "));
  return Fail(name, Joined(found, ", "),
              "write 4.3.1 into each value with its own type (reg add ... /t REG_SZ /d 4.3.1 /f), "
              "then refresh the tools (zqtool -r, copy, zqtool -a)");
}

Row ModelsAfterRow(const Kind& kind) {
  const char* name = "Models";
  Target target;
  if (ConnectionRow(kind, &target).status != Status::kOk) {
    return Fail(name, "the connection cannot be built", "run qlxcheck before the patch to see why");
  }
  const Models models = FindModels(target);
  if (models.error) return Fail(name, *models.error, "see that the database server answers");
  if (models.present.size() == std::size(kServerModels)) {
    return Ok(name, "TX540A1 and TX520A1 are in Supported_Servers");
  }
  return Fail(name,
              "only " +
                  (models.present.empty() ? std::string("none") : Joined(models.present, ", ")) +
                  " of TX540A1 and TX520A1 is in Supported_Servers",
              "run the patch again: a model already there only logs a duplicate");
}

Row ServiceAfterRow() {
  const char* name = "Service";
  const auto deadline = std::chrono::steady_clock::now() + kStartPendingLimit;
  platform::Result<platform::ServiceStatus> status = ReadServiceStatus();
  while (status && status->state == platform::ServiceState::kStartPending &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kStatePoll);
    status = ReadServiceStatus();
  }
  if (status && status->state == platform::ServiceState::kRunning) {
    return Ok(name, "\"OV Quellmark\" is running");
  }
  return Fail(name,
              status ? "\"OV Quellmark\" is not running"
                     : "\"OV Quellmark\" cannot be read (" + ErrorText(status.error()) + ")",
              "start it: sc.exe start \"OV Quellmark\", and see the System event log if it stops");
}

Row ToolFilesAfterRow(const std::string& directory) {
  const char* name = "Tool files";
  const std::string installed = HostDirectory() + "\\Tools\\qlxtools.xml";
  const auto new_text = platform::ReadWholeText(directory + "\\qlxtools.xml");
  const auto installed_text = platform::ReadWholeText(installed);
  if (new_text && installed_text && *new_text == *installed_text) {
    return Ok(name, installed + " is the new qlxtools.xml");
  }
  return Fail(
      name, installed + " is not the qlxtools.xml in " + directory,
      "copy /y qlxtools.xml \"" + installed + "\", then zqtool -a -f \"" + installed + "\"");
}

Row LogAfterRow(const std::string& directory) {
  const char* name = "Last run";
  const std::string path = directory + "\\QLX_patch.log";
  const auto log = platform::ReadWholeText(path);
  const std::string first = "Updating QLX database...\n";
  const std::size_t start = log ? log->rfind(first) : std::string::npos;
  if (start == std::string::npos) {
    return Fail(name, "no run in " + path, "run the patch from " + directory);
  }
  const std::string run = log->substr(start);
  if (run.find("QLXPatch - Run interrupted") != std::string::npos) {
    return Fail(name, "the last run was interrupted",
                "read the log's last run and undo or complete its steps as the guide says");
  }
  const std::string last = "QLX database updation completed\n\n";
  if (run.size() < last.size() || run.compare(run.size() - last.size(), last.size(), last) != 0) {
    return Fail(name, "the last run has no final message: it was ended from outside",
                "read the log's last run and undo or complete its steps as the guide says");
  }
  std::vector<std::string> failures;
  std::size_t at = 0;
  for (std::size_t end; (end = run.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = WithoutTrailingLineBreaks(run.substr(at, end - at));
    if (line.find("Failed") != std::string::npos || line.find("failed") != std::string::npos) {
      failures.push_back(line);
    }
  }
  if (!failures.empty()) {
    return Warn(name, "completed, with failures: " + Joined(failures, " | "),
                "a refused stop of a stopped service or a duplicate row on a rerun leaves the "
                "result in place; the other rows say whether anything is missing");
  }
  return Ok(name, "completed without a failure");
}

}  // namespace

std::vector<Row> CheckBefore(const std::string& directory) {
  const Kind kind = ReadKind();
  std::vector<Row> rows = {ElevationRow(), DirectoriesRow(), VersionRow(), KindRow(kind)};
  Target target;
  rows.push_back(ConnectionRow(kind, &target));
  rows.push_back(ProviderRow(kind));
  if (target.usable) {
    const Models models = FindModels(target);
    rows.push_back(DatabaseRow(models));
    rows.push_back(models.error ? Skip("Models", "the database cannot be read")
                                : ModelsRow(models));
  } else {
    rows.push_back(Skip("Database", "the connection cannot be built"));
    rows.push_back(Skip("Models", "the connection cannot be built"));
  }
  rows.push_back(ServiceRow());
  rows.push_back(HostToolsRow(kind));
  rows.push_back(ToolFilesRow(directory));
  rows.push_back(LogRow(directory));
  rows.push_back(FoldersRow(directory));
  return rows;
}

std::vector<Row> CheckAfter(const std::string& directory) {
  const Kind kind = ReadKind();
  return {VersionAfterRow(), ModelsAfterRow(kind), ServiceAfterRow(), ToolFilesAfterRow(directory),
          LogAfterRow(directory)};
}

}  // namespace qlx::check
