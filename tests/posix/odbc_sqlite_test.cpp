// The database layer against a real driver: SQLite through its ODBC driver,
// with data sources named like the program's providers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "odbc_test_environment.h"

namespace qlx::posix_tests {
namespace {

using ::testing::HasSubstr;
using ::testing::Matcher;
using ::testing::Optional;
using ::testing::StartsWith;

class SQLiteOdbcTest : public ::testing::Test {
 protected:
  // The string the program builds for SQL Server, the catalogue being a
  // SQLite file of this test's own.
  std::string SqlServerString(const std::string& catalogue = "qlx.db") const {
    return SQLiteSqlServerString(directory_ / catalogue);
  }

  // The database file of a data source, removed so that a test sees it made.
  fs::path FreshDataSourceFile(const std::string& name) const {
    const fs::path file = config_.directory() / name;
    fs::remove(file);
    return file;
  }

  ScopedOdbcConfiguration config_;
  ScratchDirectory directory_;
};

TEST_F(SQLiteOdbcTest, OpenFailsWithEFailAndTheReason) {
  const struct {
    std::string connection_string;
    Matcher<std::string> description;
  } cases[] = {
      {"Provider=;Data Source=x", HasSubstr("Provider not specified")},
      {"Provider=sqloledb;Password=\"unclosed", HasSubstr("no closing quote")},
      {"Provider=MSDAORA;Data Source=x", HasSubstr("Data source name not found")},
      {"Provider=sqloledb;Initial Catalog=" + (directory_ / "missing/dir/x.db"),
       StartsWith("[SQLite]")},
  };
  for (const auto& c : cases) {
    std::unique_ptr<Connection> connection = platform::SystemDatabaseDriver().CreateConnection();
    connection->PutConnectionString(c.connection_string);
    const ComError error = ErrorOf([&] { connection->Open(); });
    EXPECT_EQ(error.Error(), platform::kEFail) << c.connection_string;
    EXPECT_THAT(error.Description(), Optional(c.description)) << c.connection_string;
    EXPECT_EQ(ErrorOf([&] { connection->Execute("SELECT 1"); }).Error(), hresult::kObjectClosed)
        << "still closed after " << c.connection_string;
  }
}

TEST_F(SQLiteOdbcTest, DataSourceOfTheProviderIsUsed) {
  const fs::path sqloledb = FreshDataSourceFile("dsn-sqloledb.db");
  const fs::path oracle = FreshDataSourceFile("dsn-oracle.db");
  Open("Provider=sqloledb")->Close();
  EXPECT_TRUE(fs::exists(sqloledb));
  EXPECT_FALSE(fs::exists(oracle));
  Open("Provider=OraOLEDB.Oracle;User ID=qlx;Password=\"se;cret\"")->Close();
  EXPECT_TRUE(fs::exists(oracle));
}

TEST_F(SQLiteOdbcTest, ConnectionStringOverridesTheDataSource) {
  const fs::path sqloledb = FreshDataSourceFile("dsn-sqloledb.db");
  Open(SqlServerString("override.db"))->Close();
  EXPECT_TRUE(fs::exists(directory_.path() / "override.db"));
  EXPECT_FALSE(fs::exists(sqloledb));
}

TEST_F(SQLiteOdbcTest, CallsOnAClosedConnectionFail) {
  std::unique_ptr<Connection> connection = platform::SystemDatabaseDriver().CreateConnection();
  ComError error = ErrorOf([&] { connection->Execute("SELECT 1"); });
  EXPECT_EQ(error.Error(), hresult::kObjectClosed);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("object is closed")));
  EXPECT_EQ(ErrorOf([&] { connection->Close(); }).Error(), hresult::kObjectClosed);

  connection->PutConnectionString(SqlServerString());
  connection->Open();
  connection->Close();
  EXPECT_EQ(ErrorOf([&] { connection->Close(); }).Error(), hresult::kObjectClosed);
  EXPECT_EQ(ErrorOf([&] { connection->Execute("SELECT 1"); }).Error(), hresult::kObjectClosed);
}

TEST_F(SQLiteOdbcTest, OpenConnectionRefusesSettingsThatOnlyApplyBeforeOpening) {
  std::unique_ptr<Connection> connection = Open(SqlServerString());
  EXPECT_EQ(ErrorOf([&] { connection->Open(); }).Error(), hresult::kObjectOpen);
  EXPECT_EQ(ErrorOf([&] { connection->PutConnectionString("x"); }).Error(), hresult::kObjectOpen);
  EXPECT_EQ(ErrorOf([&] { connection->PutConnectionTimeout(5); }).Error(), hresult::kObjectOpen);
  connection->PutCommandTimeout(5);
  EXPECT_EQ(ErrorOf([&] { connection->PutCommandTimeout(-1); }).Error(), hresult::kInvalidArgument);
}

// However its rows end, a recordset then counts as closed, and releasing it
// last is safe.
TEST_F(SQLiteOdbcTest, RecordsetEndsWithItselfOrItsConnection) {
  const std::function<void(std::unique_ptr<Connection>&, Recordset&)> endings[] = {
      [](std::unique_ptr<Connection>&, Recordset& rows) { rows.Close(); },
      [](std::unique_ptr<Connection>& connection, Recordset&) { connection->Close(); },
      [](std::unique_ptr<Connection>& connection, Recordset&) { connection.reset(); },
  };
  for (const auto& end : endings) {
    std::unique_ptr<Connection> connection = Open(SqlServerString());
    std::unique_ptr<Recordset> rows = connection->Execute("SELECT 1");
    ASSERT_TRUE(rows);
    end(connection, *rows);
    EXPECT_EQ(ErrorOf([&] { rows->Close(); }).Error(), hresult::kObjectClosed);
    rows.reset();
  }
}

TEST_F(SQLiteOdbcTest, DatabaseStaysUsableAfterACloseOrARelease) {
  std::unique_ptr<Connection> connection = OpenWithTable(SqlServerString());
  connection->Close();
  connection->Open();
  EXPECT_EQ(connection->Execute("INSERT INTO Supported_Servers VALUES ('a', 1)"), nullptr);

  connection.reset();  // released while open
  std::unique_ptr<Connection> again = Open(SqlServerString());
  EXPECT_EQ(again->Execute("INSERT INTO Supported_Servers VALUES ('b', 1)"), nullptr);
}

}  // namespace
}  // namespace qlx::posix_tests
