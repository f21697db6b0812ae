#pragma once

// The ODBC configuration of the database tests: temporary odbc.ini and
// odbcinst.ini files that ODBCINI and ODBCSYSINI point at during a test.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>

namespace qlx::testing {

// Sets an environment variable until the end of the scope.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* previous = std::getenv(name)) previous_ = previous;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironmentVariable() {
    if (previous_) {
      ::setenv(name_, previous_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the scope.
class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::mt19937_64 random(static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count()));
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    do {
      path_ = base / ("qlx-odbc-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream file(path);
  file << text;
  ASSERT_TRUE(file.good()) << path;
}

// The key=value lines of a file, such as the connection file that
// tests/e2e/postgres-server writes.
inline std::map<std::string, std::string> ReadKeyValueFile(const std::filesystem::path& file) {
  std::map<std::string, std::string> values;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    const std::string::size_type equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

constexpr char kSQLiteDriver[] = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
constexpr char kPsqlOdbcDriver[] = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so";

// The data sources of the PostgreSQL tests. Not the program's provider names,
// which the SQLite tests give to SQLite.
constexpr char kPostgresSqlServerProvider[] = "pg.sqloledb";
constexpr char kPostgresOracleProvider[] = "pg.OraOLEDB.Oracle";

// The directory of the server that tests/e2e/postgres-server started for the
// tests, or nothing.
inline std::optional<std::filesystem::path> PostgresServerDirectory() {
  const char* dir = std::getenv("QLX_TEST_POSTGRES_DIR");
  if (!dir || !*dir) return std::nullopt;
  return std::filesystem::path(dir);
}

// The ODBC configuration of the test process: a temporary directory with an
// odbc.ini and an odbcinst.ini, made on first use and removed at the end of
// the process. Its content never changes, because the driver manager keeps
// what it read from these files for a while, whatever ODBCINI says meanwhile.
//
// Data sources: "sqloledb" (SQLite through the driver named in odbcinst.ini,
// database dsn-sqloledb.db in directory()), "OraOLEDB.Oracle" (SQLite through
// the driver's path, database dsn-oracle.db), and when a PostgreSQL server is
// given, "pg.sqloledb" (with the server's user and password) and
// "pg.OraOLEDB.Oracle" (without credentials) on it.
class SharedOdbcConfiguration {
 public:
  static const SharedOdbcConfiguration& Get() {
    static const SharedOdbcConfiguration configuration;
    return configuration;
  }

  const std::filesystem::path& directory() const { return directory_.path(); }
  std::filesystem::path system_dir() const { return directory() / "system"; }
  std::filesystem::path odbc_ini() const { return directory() / "odbc.ini"; }

 private:
  SharedOdbcConfiguration() {
    std::filesystem::create_directory(system_dir());
    WriteFile(system_dir() / "odbcinst.ini",
              std::string("[SQLite3]\nDriver=") + kSQLiteDriver + "\n");
    WriteFile(odbc_ini(), SQLiteDataSources() + PostgresDataSources());
  }

  std::string SQLiteDataSources() const {
    const std::string dir = directory().string();
    return "[sqloledb]\nDriver=SQLite3\nDatabase=" + dir + "/dsn-sqloledb.db\n\n" +
           "[OraOLEDB.Oracle]\nDriver=" + kSQLiteDriver + "\nDatabase=" + dir +
           "/dsn-oracle.db\n\n";
  }

  static std::string PostgresDataSources() {
    const std::optional<std::filesystem::path> server = PostgresServerDirectory();
    if (!server) return "";
    std::map<std::string, std::string> info = ReadKeyValueFile(*server / "connection");
    auto data_source = [&](const std::string& name) {
      return "[" + name + "]\nDriver=" + kPsqlOdbcDriver +
             "\nServername=127.0.0.1\nPort=" + info["port"] + "\nDatabase=" + info["database"] +
             "\n";
    };
    return data_source(kPostgresSqlServerProvider) + "Username=" + info["user"] +
           "\nPassword=" + info["password"] + "\n\n" + data_source(kPostgresOracleProvider);
  }

  TemporaryDirectory directory_;
};

// Puts the process's ODBC configuration in force for the length of a test:
// ODBCSYSINI and ODBCINI point at it and get their values back at the end.
class ScopedOdbcConfiguration {
 public:
  ScopedOdbcConfiguration()
      : odbcsysini_("ODBCSYSINI", SharedOdbcConfiguration::Get().system_dir().string()),
        odbcini_("ODBCINI", SharedOdbcConfiguration::Get().odbc_ini().string()) {}

  const std::filesystem::path& directory() const {
    return SharedOdbcConfiguration::Get().directory();
  }

 private:
  ScopedEnvironmentVariable odbcsysini_;
  ScopedEnvironmentVariable odbcini_;
};

}  // namespace qlx::testing
