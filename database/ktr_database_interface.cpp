#include "database/ktr_database_interface.h"

#include "config/database_kind.h"
#include "database/ktr_exception.h"
#include "database/process_state.h"
#include "driver/patch_log.h"
#include "platform/platform.h"
#include "platform/windows_codes.h"

namespace qlx {
namespace {

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

bool KTRDatabaseInterface::OpenFailed(const platform::ComError& error) {
  LogModuleMessage("KTRDatabaseInterface", "OpenGlobalConnection failed");
  connected_ = false;
  // The log has always named this operation so; readers of old logs rely on it.
  ReportComError("OpenGlocalConnection", error);
  return false;
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

  // A connection object that could not be made fails its first call as an
  // empty interface reference does in COM.
  if (!connection_) return OpenFailed(platform::ComError(platform::kEPointer));
  try {
    connection_->PutConnectionString(CurrentConnectionString());
    connection_->PutConnectionTimeout(kConnectionTimeoutSeconds);
    connection_->PutCommandTimeout(command_timeout);
    connection_->Open();
  } catch (const platform::ComError& error) {
    return OpenFailed(error);
  }
  connected_ = true;
  return true;
}

bool KTRDatabaseInterface::ExecuteQuery(std::string statement) {
  if (!connected_ || !connection_) return false;
  try {
    recordset_ = connection_->Execute(statement);
    // Only the statement that is exactly "SELECT" has its rows closed at once,
    // as the session has always done: a comparison of the whole text, not a
    // test for queries. Other results stay held until the next statement
    // replaces them or the session ends, which releases them.
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
