#include "database/ktr_database_interface.h"

#include "config/database_kind.h"
#include "database/ktr_exception.h"
#include "database/process_state.h"
#include "driver/patch_log.h"
#include "platform/platform.h"

namespace qlx {
namespace {

constexpr long kConnectionTimeoutSeconds = 60;

platform::DatabaseDriver& Driver() { return *platform::Current().database; }

}  // namespace

std::string& MutableConnectionString() {
  static std::string connection_string;
  return connection_string;
}

std::string& MutableOracleUserName() {
  static std::string user_name;
  return user_name;
}

const std::string& CurrentConnectionString() { return MutableConnectionString(); }
const std::string& OracleUserName() { return MutableOracleUserName(); }

platform::Connection& KTRDatabaseInterface::HeldConnection() {
  if (!connection_) throw platform::ComError(platform::kEPointer);
  return *connection_;
}

bool KTRDatabaseInterface::OpenGlobalConnection() {
  const std::string connection_string = GetDatabaseType() == "Oracle"
                                            ? GetOracleDatabaseParameters()
                                            : GetSQLServerDatabaseParameters();
  const int command_timeout = GetQueryTimeout();
  MutableConnectionString() = connection_string;

  if (!Driver().InitializeCom()) {
    connected_ = false;
    throw CKTRException(CKTRException::kComNotInitialized, 0);
  }
  // A connection held from an earlier open is released, not closed.
  connection_.reset();
  connection_ = Driver().CreateConnection();

  try {
    platform::Connection& connection = HeldConnection();
    connection.PutConnectionString(CurrentConnectionString());
    connection.PutConnectionTimeout(kConnectionTimeoutSeconds);
    connection.PutCommandTimeout(command_timeout);
    connection.Open();
  } catch (const platform::ComError& error) {
    LogModuleMessage("KTRDatabaseInterface", "OpenGlobalConnection failed");
    connected_ = false;
    // The log has always named this operation so; readers of old logs rely on it.
    ReportComError("OpenGlocalConnection", error);
    return false;
  }
  connected_ = true;
  return true;
}

bool KTRDatabaseInterface::ExecuteQuery(std::string statement) {
  if (!connected_ || !connection_) return false;
  try {
    recordset_ = connection_->Execute(statement);
    // Only a bare "SELECT" has its rows closed at once; other results stay
    // held until the next statement replaces them.
    if (statement == "SELECT" && recordset_) recordset_->Close();
  } catch (const platform::ComError& error) {
    ReportQueryError("ExecuteQuery", error, statement);
    return false;
  }
  return true;
}

bool KTRDatabaseInterface::CloseConnection() {
  if (!connected_ || !connection_) return false;
  try {
    connection_->Close();
  } catch (const platform::ComError& error) {
    ReportComError("CloseConnection", error);
    connected_ = false;
    return false;
  }
  connected_ = false;
  return true;
}

}  // namespace qlx
