// The database layer against PostgreSQL through psqlODBC. Runs when
// QLX_TEST_POSTGRES_DIR names the directory of a server started with
// tests/e2e/postgres-server; skipped otherwise.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "database/connection_string.h"
#include "odbc_test_environment.h"
#include "platform/database.h"

namespace qlx::platform {
namespace {

using ::testing::HasSubstr;
using ::testing::Optional;

constexpr int32_t kIntegrityViolation = static_cast<int32_t>(0x80040E2F);
constexpr int32_t kErrorsInCommand = static_cast<int32_t>(0x80040E14);
constexpr int32_t kPermissionDenied = static_cast<int32_t>(0x80040E09);
constexpr int32_t kAbortLimitReached = static_cast<int32_t>(0x80040E31);
constexpr int32_t kCantConvertValue = static_cast<int32_t>(0x80040E07);

// The second role the server script creates, with a password that needs
// quoting in an OLE DB connection string and braces in an ODBC one.
constexpr char kQuotingUser[] = "qlx_quoting";
constexpr char kQuotingPassword[] = " pa;ss}wo{rd\"x' ";

ComError ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const ComError& error) {
    return error;
  }
  ADD_FAILURE() << "no ComError";
  return ComError(0);
}

class PostgresOdbcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::optional<std::filesystem::path> server = testing::PostgresServerDirectory();
    if (!server) GTEST_SKIP() << "QLX_TEST_POSTGRES_DIR is not set";
    info_ = testing::ReadKeyValueFile(*server / "connection");
    ASSERT_FALSE(info_["port"].empty()) << "no server in " << *server;
  }

  // As the program builds it: the server "host,port", integrated security.
  std::string SqlServerString() {
    return std::string("Provider=") + testing::kPostgresSqlServerProvider +
           ";Data Source=" + QuoteConnectionValue("127.0.0.1," + info_["port"]) +
           ";Initial Catalog=" + info_["database"] + ";Integrated Security=SSPI";
  }

  // As the program builds it for Oracle: user, password and data source.
  static std::string OracleString(const std::string& user, const std::string& password) {
    return std::string("Provider=") + testing::kPostgresOracleProvider +
           ";User ID=" + QuoteConnectionValue(user) +
           ";Password=" + QuoteConnectionValue(password) + ";Data Source=127.0.0.1";
  }

  static std::unique_ptr<Connection> Open(const std::string& connection_string,
                                          long command_timeout = 60) {
    std::unique_ptr<Connection> connection = SystemDatabaseDriver().CreateConnection();
    connection->PutConnectionString(connection_string);
    connection->PutConnectionTimeout(60);
    connection->PutCommandTimeout(command_timeout);
    connection->Open();
    return connection;
  }

  // A table of this session only, so that tests may run side by side.
  std::unique_ptr<Connection> OpenWithTable() {
    std::unique_ptr<Connection> connection = Open(SqlServerString());
    connection->Execute(
        "CREATE TEMPORARY TABLE Supported_Servers (Model_Name VARCHAR(64) PRIMARY KEY, "
        "Hyper_Threading_Support INT)");
    return connection;
  }

  testing::ScopedOdbcConfiguration config_;
  std::map<std::string, std::string> info_;
};

TEST_F(PostgresOdbcTest, SqlServerPathOpensInsertsAndCloses) {
  std::unique_ptr<Connection> connection = OpenWithTable();
  EXPECT_EQ(connection->Execute("INSERT INTO Supported_Servers VALUES ('ProLiant DL380', 1)"),
            nullptr);
  std::unique_ptr<Recordset> rows = connection->Execute("SELECT * FROM Supported_Servers");
  ASSERT_TRUE(rows);
  rows->Close();
  connection->Close();
}

TEST_F(PostgresOdbcTest, OraclePathCarriesTheCredentials) {
  Open(OracleString(info_["user"], info_["password"]))->Close();
}

TEST_F(PostgresOdbcTest, PasswordNeedingQuotesAndBracesGetsThrough) {
  Open(OracleString(kQuotingUser, kQuotingPassword))->Close();
}

TEST_F(PostgresOdbcTest, WrongPasswordFailsWithTheServersMessage) {
  std::unique_ptr<Connection> connection = SystemDatabaseDriver().CreateConnection();
  connection->PutConnectionString(OracleString(info_["user"], "wrong"));
  const ComError error = ErrorOf([&] { connection->Open(); });
  EXPECT_EQ(error.Error(), kEFail);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("password authentication failed")));
}

TEST_F(PostgresOdbcTest, DuplicateKeyIsAnIntegrityViolation) {
  std::unique_ptr<Connection> connection = OpenWithTable();
  const std::string insert = "INSERT INTO Supported_Servers VALUES ('ProLiant DL380', 1)";
  connection->Execute(insert);
  const ComError error = ErrorOf([&] { connection->Execute(insert); });
  EXPECT_EQ(error.Error(), kIntegrityViolation);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("duplicate key value")));
  EXPECT_EQ(connection->Execute("INSERT INTO Supported_Servers VALUES ('ProLiant DL580', 0)"),
            nullptr);
}

TEST_F(PostgresOdbcTest, UnknownTableIsAnErrorInTheCommand) {
  std::unique_ptr<Connection> connection = Open(SqlServerString());
  const ComError error = ErrorOf([&] { connection->Execute("INSERT INTO Nowhere VALUES (1)"); });
  EXPECT_EQ(error.Error(), kErrorsInCommand);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("does not exist")));
}

TEST_F(PostgresOdbcTest, ForbiddenStatementIsPermissionDenied) {
  std::unique_ptr<Connection> connection = Open(SqlServerString());
  const ComError error = ErrorOf([&] { connection->Execute("SELECT * FROM pg_authid"); });
  EXPECT_EQ(error.Error(), kPermissionDenied);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("permission denied")));
}

TEST_F(PostgresOdbcTest, BadValueCannotBeConverted) {
  std::unique_ptr<Connection> connection = OpenWithTable();
  const ComError error =
      ErrorOf([&] { connection->Execute("INSERT INTO Supported_Servers VALUES ('a', 'many')"); });
  EXPECT_EQ(error.Error(), kCantConvertValue);
}

TEST_F(PostgresOdbcTest, StatementOutrunningTheCommandTimeoutIsAborted) {
  std::unique_ptr<Connection> connection = Open(SqlServerString(), 1);
  const auto start = std::chrono::steady_clock::now();
  const ComError error = ErrorOf([&] { connection->Execute("SELECT pg_sleep(30)"); });
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(error.Error(), kAbortLimitReached);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("statement timeout")));
  // The connection goes on.
  EXPECT_TRUE(connection->Execute("SELECT 1"));
}

TEST_F(PostgresOdbcTest, UnreachableServerFails) {
  std::unique_ptr<Connection> connection = SystemDatabaseDriver().CreateConnection();
  connection->PutConnectionString(std::string("Provider=") + testing::kPostgresSqlServerProvider +
                                  ";Data Source=127.0.0.1;Port=1");
  const ComError error = ErrorOf([&] { connection->Open(); });
  EXPECT_EQ(error.Error(), kEFail);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("Connection refused")));
}

}  // namespace
}  // namespace qlx::platform
