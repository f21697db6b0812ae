// The database layer against PostgreSQL through psqlODBC, on the server that
// tests/e2e/postgres-server started in QLX_TEST_POSTGRES_DIR (the CTest
// fixture "postgres" starts one). Without a server they fail, not skip.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "odbc_test_environment.h"
#include "platform/windows_codes.h"

namespace qlx::posix_tests {
namespace {

using ::testing::HasSubstr;
using ::testing::Optional;

// The second role the server script creates, with a password that needs
// quoting in an OLE DB connection string and braces in an ODBC one.
constexpr char kQuotingUser[] = "qlx_quoting";
constexpr char kQuotingPassword[] = " pa;ss}wo{rd\"x' ";

class PostgresOdbcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(server_.empty()) << "no PostgreSQL server in QLX_TEST_POSTGRES_DIR";
    ASSERT_FALSE(server_["port"].empty());
  }

  std::string SqlServerString() const { return PostgresSqlServerString(server_); }

  // As the program builds it for Oracle: user, password and data source.
  static std::string OracleString(const std::string& user, const std::string& password) {
    return std::string("Provider=") + kPostgresOracleProvider +
           ";User ID=" + QuoteConnectionValue(user) +
           ";Password=" + QuoteConnectionValue(password) + ";Data Source=127.0.0.1";
  }

  // The error of opening a new connection on the string.
  static ComError OpenError(const std::string& connection_string) {
    std::unique_ptr<Connection> connection = platform::SystemDatabaseDriver().CreateConnection();
    connection->PutConnectionString(connection_string);
    return ErrorOf([&] { connection->Open(); });
  }

  ScopedOdbcConfiguration config_;
  std::map<std::string, std::string> server_ = PostgresServer();
};

TEST_F(PostgresOdbcTest, OraclePathCarriesTheCredentialsHoweverQuoted) {
  Open(OracleString(server_["user"], server_["password"]))->Close();
  Open(OracleString(kQuotingUser, kQuotingPassword))->Close();
}

TEST_F(PostgresOdbcTest, RefusedLoginIsAuthFailedOtherConnectingFailuresEFail) {
  ComError error = OpenError(OracleString(server_["user"], "wrong"));
  EXPECT_EQ(error.Error(), hresult::kDbAuthenticationFailed);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("password authentication failed")));

  error = OpenError(std::string("Provider=") + kPostgresSqlServerProvider +
                    ";Data Source=127.0.0.1;Port=1");
  EXPECT_EQ(error.Error(), platform::kEFail);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("Connection refused")));
}

TEST_F(PostgresOdbcTest, ForbiddenStatementIsPermissionDenied) {
  std::unique_ptr<Connection> connection = Open(SqlServerString());
  const ComError error = ErrorOf([&] { connection->Execute("SELECT * FROM pg_authid"); });
  EXPECT_EQ(error.Error(), hresult::kDbPermissionDenied);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("permission denied")));
}

TEST_F(PostgresOdbcTest, BadValueCannotBeConverted) {
  std::unique_ptr<Connection> connection = OpenWithTable(SqlServerString(), true);
  const ComError error =
      ErrorOf([&] { connection->Execute("INSERT INTO Supported_Servers VALUES ('a', 'many')"); });
  EXPECT_EQ(error.Error(), hresult::kDbCantConvertValue);
}

TEST_F(PostgresOdbcTest, StatementOutrunningTheCommandTimeoutIsAborted) {
  std::unique_ptr<Connection> connection = Open(SqlServerString(), 1);
  const auto start = std::chrono::steady_clock::now();
  const ComError error = ErrorOf([&] { connection->Execute("SELECT pg_sleep(30)"); });
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(error.Error(), hresult::kDbAbortLimitReached);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("statement timeout")));
  // The connection goes on.
  EXPECT_TRUE(connection->Execute("SELECT 1"));
}

}  // namespace
}  // namespace qlx::posix_tests
