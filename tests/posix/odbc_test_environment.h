#pragma once

// The database tests over unixODBC: the process's data sources (an odbc.ini
// that ODBCINI points at during a test, naming the drivers by the names the
// system registered them under), the PostgreSQL server the tests may be given,
// and the calls the tests make on a connection.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "database/connection_string.h"
#include "platform/database.h"
#include "platform/posix/odbc_errors.h"
#include "platform/windows_codes.h"
#include "posix_test_support.h"

namespace qlx::posix_tests {

using platform::ComError;
using platform::Connection;
using platform::Recordset;
// The HRESULTs the failures are reported as.
namespace hresult = platform;

// The drivers as Debian's packages register them (odbcinst -q -d).
constexpr char kSQLiteDriver[] = "SQLite3";
constexpr char kPsqlOdbcDriver[] = "PostgreSQL Unicode";

// The data sources of the PostgreSQL tests. Not the program's provider names,
// which the SQLite tests give to SQLite.
constexpr char kPostgresSqlServerProvider[] = "pg.sqloledb";
constexpr char kPostgresOracleProvider[] = "pg.OraOLEDB.Oracle";

// The key=value lines of a file, such as the connection file that
// tests/e2e/postgres-server writes.
inline std::map<std::string, std::string> ReadKeyValueFile(const fs::path& file) {
  std::map<std::string, std::string> values;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    const std::string::size_type equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

// The connection details (port, database, user, password) of the server that
// tests/e2e/postgres-server started for the tests, named by
// QLX_TEST_POSTGRES_DIR; empty without one.
inline std::map<std::string, std::string> PostgresServer() {
  const char* dir = std::getenv("QLX_TEST_POSTGRES_DIR");
  if (!dir || !*dir) return {};
  return ReadKeyValueFile(fs::path(dir) / "connection");
}

// The ODBC configuration of the test process: a scratch directory with an
// odbc.ini, made on first use and removed at the end of the process. Its content never changes,
// because the driver manager keeps what it read from these files for a while, whatever ODBCINI says
// meanwhile.
//
// Data sources: "sqloledb" (SQLite, no database of its own, so that each
// test's catalogue counts), "OraOLEDB.Oracle" (SQLite, its own database
// dsn-oracle.db in directory()), and when a PostgreSQL server is
// given, "pg.sqloledb" (with the server's user and password) and
// "pg.OraOLEDB.Oracle" (without credentials) on it.
class SharedOdbcConfiguration {
 public:
  static const SharedOdbcConfiguration& Get() {
    static const SharedOdbcConfiguration configuration;
    return configuration;
  }

  const fs::path& directory() const { return directory_.path(); }
  fs::path odbc_ini() const { return directory() / "odbc.ini"; }

 private:
  SharedOdbcConfiguration() { WriteBytes(odbc_ini(), SQLiteDataSources() + PostgresDataSources()); }

  std::string SQLiteDataSources() const {
    const std::string dir = directory().string();
    return std::string("[sqloledb]\nDriver=") + kSQLiteDriver +
           "\n\n[OraOLEDB.Oracle]\nDriver=" + kSQLiteDriver + "\nDatabase=" + dir +
           "/dsn-oracle.db\n\n";
  }

  static std::string PostgresDataSources() {
    std::map<std::string, std::string> server = PostgresServer();
    if (server.empty()) return "";
    auto data_source = [&](const std::string& name) {
      return "[" + name + "]\nDriver=" + kPsqlOdbcDriver +
             "\nServername=127.0.0.1\nPort=" + server["port"] + "\nDatabase=" + server["database"] +
             "\n";
    };
    return data_source(kPostgresSqlServerProvider) + "Username=" + server["user"] +
           "\nPassword=" + server["password"] + "\n\n" + data_source(kPostgresOracleProvider);
  }

  ScratchDirectory directory_;
};

// Puts the process's ODBC configuration in force for the length of a test:
// ODBCINI points at it, ODBCSYSINI is unset so that the system's registered
// drivers apply, and both get their values back at the end.
class ScopedOdbcConfiguration {
 public:
  ScopedOdbcConfiguration()
      : odbcsysini_("ODBCSYSINI", std::nullopt),
        odbcini_("ODBCINI", SharedOdbcConfiguration::Get().odbc_ini().string()) {}

  const fs::path& directory() const { return SharedOdbcConfiguration::Get().directory(); }

 private:
  ScopedEnvironment odbcsysini_;
  ScopedEnvironment odbcini_;
};

// The string the program builds for SQL Server, with the SQLite file as its
// catalogue.
inline std::string SQLiteSqlServerString(const std::string& database_file) {
  return "Provider=sqloledb;Data Source=localhost,1433;Initial Catalog=" + database_file +
         ";Integrated Security=SSPI";
}

// The string the program builds for SQL Server ("host,port", integrated
// security), for the PostgreSQL server.
inline std::string PostgresSqlServerString(std::map<std::string, std::string> server) {
  return std::string("Provider=") + kPostgresSqlServerProvider +
         ";Data Source=" + QuoteConnectionValue("127.0.0.1," + server["port"]) +
         ";Initial Catalog=" + server["database"] + ";Integrated Security=SSPI";
}

// The ComError that the call throws; fails the test when it throws none.
inline ComError ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const ComError& error) {
    return error;
  }
  ADD_FAILURE() << "no ComError";
  return ComError(0);
}

// A connection opened as the program opens it.
inline std::unique_ptr<Connection> Open(const std::string& connection_string,
                                        long command_timeout = 60) {
  std::unique_ptr<Connection> connection = platform::SystemDatabaseDriver().CreateConnection();
  if (!connection) throw ComError(platform::kEPointer, "no connection object");
  connection->PutConnectionString(connection_string);
  connection->PutConnectionTimeout(60);
  connection->PutCommandTimeout(command_timeout);
  connection->Open();
  return connection;
}

// Opened, with a table that has a primary key; a temporary one lives only as
// long as its session, so that tests on a shared database may run side by side.
inline std::unique_ptr<Connection> OpenWithTable(const std::string& connection_string,
                                                 bool temporary = false) {
  std::unique_ptr<Connection> connection = Open(connection_string);
  EXPECT_EQ(connection->Execute(std::string("CREATE ") + (temporary ? "TEMPORARY " : "") +
                                "TABLE Supported_Servers (Model_Name VARCHAR(64) PRIMARY KEY, "
                                "Hyper_Threading_Support INT)"),
            nullptr);
  return connection;
}

}  // namespace qlx::posix_tests
