#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "config/database_kind.h"
#include "database/connection_string.h"
#include "database/ktr_database_interface.h"
#include "database/ktr_exception.h"
#include "fakes/sandbox.h"

namespace qlx::testing {
namespace {

using ::testing::HasSubstr;

class DatabaseKindTest : public SandboxTest {
 protected:
  std::string KindOf(const std::string& settings) {
    WriteFile("host/config/globalsettings.props", settings);
    return GetDatabaseType();
  }
};

TEST_F(DatabaseKindTest, TheFirstDbTypeLineDecides) {
  EXPECT_EQ(KindOf("dbType=Oracle\n"), "Oracle");
  EXPECT_EQ(KindOf("dbType=Oracle  \r\n"), "Oracle");
  EXPECT_EQ(KindOf("x=1\ndbType=oracle\ndbType=Oracle\n"), "oracle");
  EXPECT_EQ(KindOf("dbType= Oracle\n"), " Oracle");
  EXPECT_EQ(KindOf("dbType=Oracle2\n"), "Oracle2");
  EXPECT_EQ(KindOf("DBTYPE=Oracle\n"), "");
}

TEST_F(DatabaseKindTest, AMissingFileIsReportedOnTheConsoleAndMeansSqlServer) {
  registry_.SetString(kHostKey, "InstallPath", "");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(GetDatabaseType(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Error in opening the file:  \\config\\globalsettings.props\n");
}

class SqlServerParametersTest : public SandboxTest {
 protected:
  std::string ConnectionStringFor(const std::string& settings) {
    WriteFile("host/config/database.props", settings);
    return session_.GetSQLServerDatabaseParameters();
  }
  KTRDatabaseInterface session_;
};

TEST_F(SqlServerParametersTest, PortFormWithTheFixedCatalogue) {
  EXPECT_EQ(ConnectionStringFor("ov.Database.hostName=DBSRV\r\nov.Database.portNumber=1433 \n"
                                "ov.Database.username=sa\nqlx.Database.databaseName=other\n"),
            "Provider=sqloledb;Data Source=DBSRV,1433;Initial Catalog=QLX_v3_0;"
            "Integrated Security=SSPI");
  EXPECT_EQ(session_.DatabaseName(), "QLX_v3_0");
}

TEST_F(SqlServerParametersTest, NamedInstanceFormWhenTheInstanceIsLongerThanHostPlusTwo) {
  EXPECT_EQ(ConnectionStringFor("ov.Database.hostName=DBSRV\nov.Database.portNumber=1433\n"
                                "ov.Database.instance=DBSRV\\\\SQLEXPRESS\n"),
            "Provider=sqloledb;Data Source=DBSRV\\SQLEXPRESS;Initial Catalog=QLX_v3_0;"
            "Integrated Security=SSPI");
  EXPECT_EQ(session_.HostName(), "DBSRV\\SQLEXPRESS");
}

TEST_F(SqlServerParametersTest, ShortInstanceValuesKeepThePortForm) {
  const std::string port_form =
      "Provider=sqloledb;Data Source=DBSRV,1433;Initial Catalog=QLX_v3_0;Integrated Security=SSPI";
  EXPECT_EQ(ConnectionStringFor("ov.Database.hostName=DBSRV\nov.Database.portNumber=1433\n"
                                "ov.Database.instance=DBSRV\n"),
            port_form);
  EXPECT_EQ(ConnectionStringFor("ov.Database.hostName=DBSRV\nov.Database.portNumber=1433\n"
                                "ov.Database.instance=DBSRV\\\\\n"),
            port_form);
}

TEST_F(SqlServerParametersTest, TheLastOccurrenceWinsAndMissingKeysLeaveEmptyPieces) {
  EXPECT_THAT(ConnectionStringFor("ov.Database.hostName=A\nov.Database.hostName=B\n"),
              HasSubstr("Data Source=B,;"));
  KTRDatabaseInterface fresh;
  WriteFile("host/config/database.props", "");
  EXPECT_THAT(fresh.GetSQLServerDatabaseParameters(), HasSubstr("Data Source=,;"));
}

TEST_F(SqlServerParametersTest, ValuesThatWouldBreakTheStringAreQuoted) {
  EXPECT_THAT(ConnectionStringFor("ov.Database.hostName=db;Provider=evil\n"
                                  "ov.Database.portNumber=1433\n"),
              HasSubstr("Data Source=\"db;Provider=evil,1433\";"));
  EXPECT_THAT(ConnectionStringFor("ov.Database.hostName= DBSRV\nov.Database.portNumber=1\n"),
              HasSubstr("Data Source=\" DBSRV,1\";"));
}

TEST_F(SqlServerParametersTest, AMissingSettingsFileRaisesCodeFiveWithTheOpenError) {
  try {
    session_.GetSQLServerDatabaseParameters();
    FAIL() << "no exception";
  } catch (const CKTRException& error) {
    EXPECT_EQ(error.Code(), 5);
    EXPECT_EQ(error.Error(), 2u);
  }
  EXPECT_EQ(session_.DatabaseName(), "QLX_v3_0");

  registry_.SetString(kHostKey, "InstallPath", HostDirectory() + "\\gone");
  try {
    session_.GetSQLServerDatabaseParameters();
    FAIL() << "no exception";
  } catch (const CKTRException& error) {
    EXPECT_EQ(error.Error(), 3u);
  }
}

TEST(ConnectionValueQuoting, OrdinaryValuesStayAsTheyAre) {
  EXPECT_EQ(QuoteConnectionValue(""), "");
  EXPECT_EQ(QuoteConnectionValue("DBSRV\\SQLEXPRESS"), "DBSRV\\SQLEXPRESS");
  EXPECT_EQ(QuoteConnectionValue("pa\"ss'word="), "pa\"ss'word=");
  EXPECT_EQ(QuoteConnectionValue("a;b"), "\"a;b\"");
  EXPECT_EQ(QuoteConnectionValue("a;\"b"), "'a;\"b'");
  EXPECT_EQ(QuoteConnectionValue("'a;\"b"), "\"'a;\"\"b\"");
  EXPECT_EQ(QuoteConnectionValue("\"x"), "'\"x'");
  EXPECT_EQ(QuoteConnectionValue("x "), "\"x \"");
  EXPECT_EQ(QuoteConnectionValue("=x"), "\"=x\"");
}

}  // namespace
}  // namespace qlx::testing
