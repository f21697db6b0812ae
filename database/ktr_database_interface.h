#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/database.h"

namespace qlx {

// The one database session of a run: opens the add-on's database, executes
// statements and closes the connection. None of its operations lets a COM
// error escape: a failure is logged and comes back as false. CKTRException
// leaves OpenGlobalConnection when the configuration cannot be read or COM
// cannot be brought into use.
class KTRDatabaseInterface {
 public:
  // How long the open may take.
  static constexpr long kConnectionTimeoutSeconds = 60;

  KTRDatabaseInterface() = default;
  // Releases the recordset, then the connection; closes nothing.
  ~KTRDatabaseInterface() = default;
  KTRDatabaseInterface(const KTRDatabaseInterface&) = delete;
  KTRDatabaseInterface& operator=(const KTRDatabaseInterface&) = delete;

  bool OpenGlobalConnection();
  bool ExecuteQuery(std::string statement);
  bool CloseConnection();

  // The connection strings of the two database products.
  std::string GetOracleDatabaseParameters();
  std::string GetSQLServerDatabaseParameters();
  // The Oracle password from the host's password store; empty when a step failed.
  std::string GetPassword();
  // The command time-out in seconds, never 0.
  int GetQueryTimeout();

  // Record a COM error in the last-error fields and log it.
  void ReportComError(std::string operation, const platform::ComError& error);
  void ReportQueryError(std::string operation, const platform::ComError& error,
                        std::string statement);

  bool IsConnected() const { return connected_; }
  const std::string& DatabaseName() const { return database_name_; }
  const std::string& HostName() const { return host_name_; }
  const std::string& LastErrorOperation() const { return last_error_operation_; }
  int32_t LastErrorCode() const { return last_error_code_; }
  const std::string& LastErrorMessage() const { return last_error_message_; }
  const std::string& LastErrorDescription() const { return last_error_description_; }

 private:
  // Logs a failed open and leaves the session unconnected; false.
  bool OpenFailed(const platform::ComError& error);
  void RecordComError(std::string operation, const platform::ComError& error);

  std::unique_ptr<platform::Connection> connection_;
  std::unique_ptr<platform::Recordset> recordset_;
  std::string database_name_;
  std::string host_name_;
  std::string port_number_;
  bool connected_ = false;
  std::string last_error_operation_;
  int32_t last_error_code_ = 0;
  std::string last_error_message_;
  std::string last_error_description_;
};

// The connection string of the last OpenGlobalConnection, for the whole run.
const std::string& CurrentConnectionString();

// The Oracle user name read by the last GetOracleDatabaseParameters.
const std::string& OracleUserName();

}  // namespace qlx
