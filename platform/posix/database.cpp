// The database connection on Linux: the ADO calls of the program carried out
// through the unixODBC driver manager. The OLE DB provider named in the
// connection string selects the ODBC data source of the same name (see
// odbc_connection_string.h); failures come back as the HRESULTs an OLE DB
// provider would give (see odbc_errors.h).
#include "platform/database.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/odbc_connection_string.h"
#include "platform/posix/odbc_data_sources.h"
#include "platform/posix/odbc_errors.h"
#include "platform/posix/odbc_handles.h"
#include "platform/windows_codes.h"

namespace qlx::platform {
namespace {

using odbc::ConnectionHandle;
using odbc::Environment;
using odbc::StatementHandle;

// ADO's defaults for a new Connection object.
constexpr long kDefaultConnectionTimeout = 15;
constexpr long kDefaultCommandTimeout = 30;

ComError ObjectClosed() {
  return ComError(kAdObjectClosed, "Operation is not allowed when the object is closed.");
}

ComError ObjectOpen() {
  return ComError(kAdObjectOpen, "Operation is not allowed when the object is open.");
}

ComError InvalidArgument() {
  return ComError(kAdInvalidArgument,
                  "Arguments are of the wrong type, are out of acceptable range, or are in "
                  "conflict with one another.");
}

// The rows of a statement, held open until closed or until its connection
// closes.
class OdbcRecordset : public Recordset {
 public:
  explicit OdbcRecordset(std::shared_ptr<StatementHandle> statement)
      : statement_(std::move(statement)) {}

  void Close() override {
    if (statement_->freed()) throw ObjectClosed();
    statement_->CloseCursor();
    statement_->Free();
  }

  // Asked right after the statement, as the check asks it: is there a row?
  bool AtEnd() override {
    if (statement_->freed()) throw ObjectClosed();
    if (!fetched_) at_end_ = !statement_->Fetch();
    fetched_ = true;
    return at_end_;
  }

 private:
  std::shared_ptr<StatementHandle> statement_;
  bool fetched_ = false;
  bool at_end_ = false;
};

class OdbcConnection : public Connection {
 public:
  explicit OdbcConnection(std::shared_ptr<Environment> environment)
      : environment_(std::move(environment)) {}
  // Released, not closed: the recordsets end, the handle disconnects.
  ~OdbcConnection() override { FreeStatements(); }

  void PutConnectionString(const std::string& connection_string) override {
    if (connection_) throw ObjectOpen();
    connection_string_ = connection_string;
  }

  void PutConnectionTimeout(long seconds) override {
    if (connection_) throw ObjectOpen();
    if (seconds < 0) throw InvalidArgument();
    connection_timeout_ = seconds;
  }

  void PutCommandTimeout(long seconds) override {
    if (seconds < 0) throw InvalidArgument();
    command_timeout_ = seconds;
  }

  void Open() override {
    if (connection_) throw ObjectOpen();
    const std::string odbc_connection_string =
        odbc::TranslateConnectionString(connection_string_, [](const std::string& name) {
          const odbc::DataSource source = odbc::LookUpDataSource(name);
          // The driver manager's own refusal follows; this says where to look.
          if (!source.defined) odbc::ReportMissingDataSource(name);
          return source;
        });
    auto connection = std::make_unique<ConnectionHandle>(environment_);
    connection->SetLoginTimeout(static_cast<unsigned long>(connection_timeout_));
    connection->Connect(odbc_connection_string);
    connection_ = std::move(connection);
  }

  std::unique_ptr<Recordset> Execute(const std::string& statement) override {
    auto handle = std::make_shared<StatementHandle>(OpenConnection());
    handle->SetQueryTimeout(static_cast<unsigned long>(command_timeout_));
    handle->ExecDirect(statement);
    if (!handle->ReturnsRows()) return nullptr;
    Track(handle);
    return std::make_unique<OdbcRecordset>(std::move(handle));
  }

  void Close() override {
    ConnectionHandle& connection = OpenConnection();
    FreeStatements();
    connection.Disconnect();
    connection_.reset();
  }

 private:
  ConnectionHandle& OpenConnection() {
    if (!connection_) throw ObjectClosed();
    return *connection_;
  }

  void Track(const std::shared_ptr<StatementHandle>& statement) {
    std::vector<std::weak_ptr<StatementHandle>> live;
    for (const auto& held : statements_) {
      if (!held.expired()) live.push_back(held);
    }
    live.push_back(statement);
    statements_ = std::move(live);
  }

  // Statements go before their connection does; their recordsets count as
  // closed from then on.
  void FreeStatements() {
    for (const auto& held : statements_) {
      if (auto statement = held.lock()) statement->Free();
    }
    statements_.clear();
  }

  std::shared_ptr<Environment> environment_;
  std::string connection_string_;
  long connection_timeout_ = kDefaultConnectionTimeout;
  long command_timeout_ = kDefaultCommandTimeout;
  std::unique_ptr<ConnectionHandle> connection_;  // null while closed
  std::vector<std::weak_ptr<StatementHandle>> statements_;
};

// Nothing to bring into use on Linux; the ODBC environment is allocated with
// the first connection object and shared by all.
class OdbcDriver : public DatabaseDriver {
 public:
  bool InitializeCom() override { return true; }

  std::unique_ptr<Connection> CreateConnection() override {
    if (!environment_) environment_ = Environment::Create();
    if (!environment_) return nullptr;
    return std::make_unique<OdbcConnection>(environment_);
  }

 private:
  std::shared_ptr<Environment> environment_;
};

}  // namespace

DatabaseDriver& SystemDatabaseDriver() {
  static OdbcDriver driver;
  return driver;
}

}  // namespace qlx::platform
