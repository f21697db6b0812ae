// The database layer against a real driver: SQLite through its ODBC driver,
// with data sources named like the program's providers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "odbc_test_environment.h"
#include "platform/windows_codes.h"

namespace qlx::posix_tests {
namespace {

using ::testing::HasSubstr;
using ::testing::Matcher;
using ::testing::Optional;
using ::testing::StartsWith;
using ::testing::StrEq;

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
      {"Provider=sqloledb;Initial Catalog=\"x.db;Database=" + (directory_ / "other.db") + "\"",
       StrEq("[qlxpatch]The SQLite driver cannot be given a value holding \";\", \"{\" or "
             "\"}\": Database")},
  };
  for (const auto& c : cases) {
    std::unique_ptr<Connection> connection = platform::SystemDatabaseDriver().CreateConnection();
    connection->PutConnectionString(c.connection_string);
    const ComError error = ErrorOf([&] { connection->Open(); });
    EXPECT_EQ(error.Error(), platform::kEFail) << c.connection_string;
    EXPECT_THAT(error.Description(), Optional(c.description)) << c.connection_string;
    EXPECT_EQ(ErrorOf([&] { connection->Execute("SELECT 1"); }).Error(), hresult::kAdObjectClosed)
        << "still closed after " << c.connection_string;
  }
}

// The data source's own database wins; without one, the catalogue is the
// database. Attributes the driver does not use are not sent, so a password
// it could not take safely does no harm.
TEST_F(SQLiteOdbcTest, TheDataSourcesDatabaseOrElseTheCatalogueIsOpened) {
  const fs::path oracle = FreshDataSourceFile("dsn-oracle.db");
  const fs::path catalogue = directory_.path() / "catalogue.db";
  const struct {
    std::string connection_string;
    fs::path opened;
  } cases[] = {
      {"Provider=OraOLEDB.Oracle;User ID=qlx;Password=\"se;cret\";Data Source={x}", oracle},
      {"Provider=OraOLEDB.Oracle;Initial Catalog=" + catalogue.string(), oracle},
      {SqlServerString("catalogue.db"), catalogue},
  };
  for (const auto& c : cases) {
    fs::remove(oracle);
    fs::remove(catalogue);
    Open(c.connection_string)->Close();
    EXPECT_EQ(fs::exists(oracle), c.opened == oracle) << c.connection_string;
    EXPECT_EQ(fs::exists(catalogue), c.opened == catalogue) << c.connection_string;
  }
}

TEST_F(SQLiteOdbcTest, CallsOnAClosedConnectionFail) {
  std::unique_ptr<Connection> connection = platform::SystemDatabaseDriver().CreateConnection();
  ComError error = ErrorOf([&] { connection->Execute("SELECT 1"); });
  EXPECT_EQ(error.Error(), hresult::kAdObjectClosed);
  EXPECT_THAT(error.Description(), Optional(HasSubstr("object is closed")));
  EXPECT_EQ(ErrorOf([&] { connection->Close(); }).Error(), hresult::kAdObjectClosed);

  connection->PutConnectionString(SqlServerString());
  connection->Open();
  connection->Close();
  EXPECT_EQ(ErrorOf([&] { connection->Close(); }).Error(), hresult::kAdObjectClosed);
  EXPECT_EQ(ErrorOf([&] { connection->Execute("SELECT 1"); }).Error(), hresult::kAdObjectClosed);
}

TEST_F(SQLiteOdbcTest, OpenConnectionRefusesSettingsThatOnlyApplyBeforeOpening) {
  std::unique_ptr<Connection> connection = Open(SqlServerString());
  EXPECT_EQ(ErrorOf([&] { connection->Open(); }).Error(), hresult::kAdObjectOpen);
  EXPECT_EQ(ErrorOf([&] { connection->PutConnectionString("x"); }).Error(), hresult::kAdObjectOpen);
  EXPECT_EQ(ErrorOf([&] { connection->PutConnectionTimeout(5); }).Error(), hresult::kAdObjectOpen);
  connection->PutCommandTimeout(5);
  EXPECT_EQ(ErrorOf([&] { connection->PutCommandTimeout(-1); }).Error(),
            hresult::kAdInvalidArgument);
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
    EXPECT_EQ(ErrorOf([&] { rows->Close(); }).Error(), hresult::kAdObjectClosed);
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
