// The database layer against a real driver: SQLite through its ODBC driver,
// with data sources named like the program's providers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "odbc_test_environment.h"
#include "platform/database.h"

namespace qlx::platform {
namespace {

using ::testing::HasSubstr;
using ::testing::Optional;
using ::testing::StartsWith;

constexpr int32_t kIntegrityViolation = static_cast<int32_t>(0x80040E2F);
constexpr int32_t kErrorsInCommand = static_cast<int32_t>(0x80040E14);
constexpr int32_t kObjectClosed = static_cast<int32_t>(0x800A0E78);
constexpr int32_t kObjectOpen = static_cast<int32_t>(0x800A0E79);
constexpr int32_t kInvalidArgument = static_cast<int32_t>(0x800A0BB9);

// The ComError that the call throws; fails the test when it throws none.
ComError ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const ComError& error) {
    return error;
  }
  ADD_FAILURE() << "no ComError";
  return ComError(0);
}

class SQLiteOdbcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(testing::kSQLiteDriver)) {
      GTEST_SKIP() << "no SQLite ODBC driver";
    }
  }

  std::unique_ptr<Connection> Open(const std::string& connection_string) {
    std::unique_ptr<Connection> connection = SystemDatabaseDriver().CreateConnection();
    EXPECT_TRUE(connection);
    if (!connection) return nullptr;
    connection->PutConnectionString(connection_string);
    connection->PutConnectionTimeout(60);
    connection->PutCommandTimeout(60);
    connection->Open();
    return connection;
  }

  // The string the program builds for SQL Server, the catalogue being the
  // SQLite file.
  std::string SqlServerString(const std::string& catalogue = "qlx.db") const {
    return "Provider=sqloledb;Data Source=localhost,1433;Initial Catalog=" + Path(catalogue) +
           ";Integrated Security=SSPI";
  }

  // A file of this test's own.
  std::string Path(const std::string& name) const { return (directory_.path() / name).string(); }

  // The database file of a data source, removed so that a test sees it made.
  std::filesystem::path FreshDataSourceFile(const std::string& name) const {
    const std::filesystem::path file = config_.directory() / name;
    std::filesystem::remove(file);
    return file;
  }

  // With a table that has a primary key and a unique column.
  std::unique_ptr<Connection> OpenWithTable() {
    std::unique_ptr<Connection> connection = Open(SqlServerString());
    EXPECT_EQ(connection->Execute("CREATE TABLE Supported_Servers (Model_Name VARCHAR(64) "
                                  "PRIMARY KEY, Hyper_Threading_Support INT)"),
              nullptr);
    return connection;
  }

  testing::ScopedOdbcConfiguration config_;
  testing::TemporaryDirectory directory_;
};

TEST_F(SQLiteOdbcTest, InitializeComNeedsNothing) {
  EXPECT_TRUE(SystemDatabaseDriver().InitializeCom());
  EXPECT_TRUE(SystemDatabaseDriver().InitializeCom());
}

TEST_F(SQLiteOdbcTest, OpensInsertsAndCloses) {
  std::unique_ptr<Connection> connection = OpenWithTable();
  EXPECT_EQ(connection->Execute("INSERT INTO Supported_Servers VALUES ('ProLiant DL380', 1)"),
            nullptr);
  std::unique_ptr<Recordset> rows = connection->Execute("SELECT * FROM Supported_Servers");
  ASSERT_TRUE(rows);
  rows->Close();
  EXPECT_EQ(ErrorOf([&] { rows->Close(); }).Error(), kObjectClosed);
  connection->Close();
  EXPECT_TRUE(std::filesystem::exists(Path("qlx.db")));
}

TEST_F(SQLiteOdbcTest, UpdateThatTouchesNoRowSucceeds) {
  std::unique_ptr<Connection> connection = OpenWithTable();
  EXPECT_EQ(connection->Execute("DELETE FROM Supported_Servers WHERE Model_Name = 'none'"),
            nullptr);
}

TEST_F(SQLiteOdbcTest, DuplicateKeyIsAnIntegrityViolation) {
  std::unique_ptr<Connection> connection = OpenWithTable();
  const std::string insert = "INSERT INTO Supported_Servers VALUES ('ProLiant DL380', 1)";
  connection->Execute(insert);
  const ComError error = ErrorOf([&] { connection->Execute(insert); });
  EXPECT_EQ(error.Error(), kIntegrityViolation);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("UNIQUE constraint failed")));
  // The connection stays usable for the next statement.
  EXPECT_EQ(connection->Execute("INSERT INTO Supported_Servers VALUES ('ProLiant DL580', 0)"),
            nullptr);
}

TEST_F(SQLiteOdbcTest, UnknownTableIsAnErrorInTheCommand) {
  std::unique_ptr<Connection> connection = Open(SqlServerString());
  const ComError error = ErrorOf([&] { connection->Execute("INSERT INTO Nowhere VALUES (1)"); });
  EXPECT_EQ(error.Error(), kErrorsInCommand);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("no such table")));
}

TEST_F(SQLiteOdbcTest, SyntaxErrorIsAnErrorInTheCommand) {
  std::unique_ptr<Connection> connection = Open(SqlServerString());
  const ComError error = ErrorOf([&] { connection->Execute("INSERTT INTO x VALUES (1)"); });
  EXPECT_EQ(error.Error(), kErrorsInCommand);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("syntax error")));
}

TEST_F(SQLiteOdbcTest, MissingDataSourceFailsWithTheDriverManagersMessage) {
  std::unique_ptr<Connection> connection = SystemDatabaseDriver().CreateConnection();
  connection->PutConnectionString("Provider=MSDAORA;Data Source=x");
  const ComError error = ErrorOf([&] { connection->Open(); });
  EXPECT_EQ(error.Error(), kEFail);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("Data source name not found")));
  // Still closed.
  EXPECT_EQ(ErrorOf([&] { connection->Execute("SELECT 1"); }).Error(), kObjectClosed);
}

TEST_F(SQLiteOdbcTest, MissingProviderFails) {
  for (const char* text : {"", "Data Source=x;Initial Catalog=y", "Provider=;Data Source=x"}) {
    std::unique_ptr<Connection> connection = SystemDatabaseDriver().CreateConnection();
    connection->PutConnectionString(text);
    const ComError error = ErrorOf([&] { connection->Open(); });
    EXPECT_EQ(error.Error(), kEFail) << text;
    EXPECT_THAT(error.Description(), Optional(HasSubstr("Provider not specified"))) << text;
  }
}

TEST_F(SQLiteOdbcTest, MalformedConnectionStringFails) {
  std::unique_ptr<Connection> connection = SystemDatabaseDriver().CreateConnection();
  connection->PutConnectionString("Provider=sqloledb;Password=\"unclosed");
  const ComError error = ErrorOf([&] { connection->Open(); });
  EXPECT_EQ(error.Error(), kEFail);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("no closing quote")));
}

TEST_F(SQLiteOdbcTest, DriverRefusingToConnectFailsWithItsMessage) {
  std::unique_ptr<Connection> connection = SystemDatabaseDriver().CreateConnection();
  connection->PutConnectionString("Provider=sqloledb;Initial Catalog=" + Path("missing/dir/x.db"));
  const ComError error = ErrorOf([&] { connection->Open(); });
  EXPECT_EQ(error.Error(), kEFail);
  EXPECT_THAT(error.Description(), Optional(StartsWith("[SQLite]")));
}

TEST_F(SQLiteOdbcTest, DataSourceOfTheProviderIsUsed) {
  const std::filesystem::path sqloledb = FreshDataSourceFile("dsn-sqloledb.db");
  const std::filesystem::path oracle = FreshDataSourceFile("dsn-oracle.db");
  Open("Provider=sqloledb")->Close();
  EXPECT_TRUE(std::filesystem::exists(sqloledb));
  EXPECT_FALSE(std::filesystem::exists(oracle));
  Open("Provider=OraOLEDB.Oracle;User ID=qlx;Password=\"se;cret\"")->Close();
  EXPECT_TRUE(std::filesystem::exists(oracle));
}

TEST_F(SQLiteOdbcTest, ConnectionStringOverridesTheDataSource) {
  const std::filesystem::path sqloledb = FreshDataSourceFile("dsn-sqloledb.db");
  Open(SqlServerString("override.db"))->Close();
  EXPECT_TRUE(std::filesystem::exists(Path("override.db")));
  EXPECT_FALSE(std::filesystem::exists(sqloledb));
}

TEST_F(SQLiteOdbcTest, CallsOnAClosedConnectionFail) {
  std::unique_ptr<Connection> connection = SystemDatabaseDriver().CreateConnection();
  ComError error = ErrorOf([&] { connection->Execute("SELECT 1"); });
  EXPECT_EQ(error.Error(), kObjectClosed);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("object is closed")));
  EXPECT_EQ(ErrorOf([&] { connection->Close(); }).Error(), kObjectClosed);

  connection->PutConnectionString(SqlServerString());
  connection->Open();
  connection->Close();
  EXPECT_EQ(ErrorOf([&] { connection->Close(); }).Error(), kObjectClosed);
  EXPECT_EQ(ErrorOf([&] { connection->Execute("SELECT 1"); }).Error(), kObjectClosed);
}

TEST_F(SQLiteOdbcTest, ReopensAfterClose) {
  std::unique_ptr<Connection> connection = OpenWithTable();
  connection->Close();
  connection->Open();
  EXPECT_EQ(connection->Execute("INSERT INTO Supported_Servers VALUES ('a', 1)"), nullptr);
  connection->Close();
}

TEST_F(SQLiteOdbcTest, OpenConnectionRefusesSettingsThatOnlyApplyBeforeOpening) {
  std::unique_ptr<Connection> connection = Open(SqlServerString());
  EXPECT_EQ(ErrorOf([&] { connection->Open(); }).Error(), kObjectOpen);
  EXPECT_EQ(ErrorOf([&] { connection->PutConnectionString("x"); }).Error(), kObjectOpen);
  EXPECT_EQ(ErrorOf([&] { connection->PutConnectionTimeout(5); }).Error(), kObjectOpen);
  connection->PutCommandTimeout(5);
  EXPECT_EQ(ErrorOf([&] { connection->PutCommandTimeout(-1); }).Error(), kInvalidArgument);
}

TEST_F(SQLiteOdbcTest, RecordsetEndsWithItsConnection) {
  std::unique_ptr<Connection> connection = OpenWithTable();
  std::unique_ptr<Recordset> rows = connection->Execute("SELECT * FROM Supported_Servers");
  ASSERT_TRUE(rows);
  connection->Close();
  EXPECT_EQ(ErrorOf([&] { rows->Close(); }).Error(), kObjectClosed);
}

TEST_F(SQLiteOdbcTest, ReleasingTheConnectionBeforeItsRecordsetIsSafe) {
  std::unique_ptr<Connection> connection = OpenWithTable();
  std::unique_ptr<Recordset> rows = connection->Execute("SELECT * FROM Supported_Servers");
  ASSERT_TRUE(rows);
  connection.reset();
  EXPECT_EQ(ErrorOf([&] { rows->Close(); }).Error(), kObjectClosed);
  rows.reset();
}

TEST_F(SQLiteOdbcTest, ReleasingAnOpenConnectionLeavesTheDatabaseUsable) {
  OpenWithTable().reset();
  std::unique_ptr<Connection> again = Open(SqlServerString());
  EXPECT_EQ(again->Execute("INSERT INTO Supported_Servers VALUES ('a', 1)"), nullptr);
}

}  // namespace
}  // namespace qlx::platform
