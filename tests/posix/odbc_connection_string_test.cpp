#include "platform/posix/odbc_connection_string.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "database/connection_string.h"
#include "platform/database.h"
#include "platform/windows_codes.h"

namespace qlx::platform::odbc {

bool operator==(const Attribute& a, const Attribute& b) {
  return a.name == b.name && a.value == b.value;
}

void PrintTo(const Attribute& attribute, std::ostream* out) {
  *out << "{" << attribute.name << "=" << attribute.value << "}";
}

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// An input and what it should give: a text, or the attributes of a string.
struct TextCase {
  const char* input;
  const char* expected;
};
struct AttributesCase {
  const char* text;
  std::vector<Attribute> attributes;
};

// Why the call refused the string, or "" when it did not.
template <typename Call>
std::string RefusalOf(Call call) {
  try {
    call();
  } catch (const ComError& error) {
    EXPECT_EQ(error.Error(), kEFail);
    return error.Description().value_or("(no description)");
  }
  return "";
}

std::vector<Attribute> Parse(const std::string& text) {
  std::vector<Attribute> attributes;
  EXPECT_EQ(RefusalOf([&] { attributes = ParseOleDbConnectionString(text); }), "") << text;
  return attributes;
}

TEST(OleDbConnectionStringTest, SplitsQuotesAndTrimsAsOleDbDoes) {
  const AttributesCase cases[] = {
      {"Provider=sqloledb;Data Source=db1,1433;Initial Catalog=QLX_v3_0",
       {{"Provider", "sqloledb"}, {"Data Source", "db1,1433"}, {"Initial Catalog", "QLX_v3_0"}}},
      // Blanks around names and plain values go, blanks inside stay.
      {"  Provider = sqloledb ;\tUser ID=  scott\t; ",
       {{"Provider", "sqloledb"}, {"User ID", "scott"}}},
      {"Data Source=my server", {{"Data Source", "my server"}}},
      // Empty attributes are skipped, empty values kept.
      {";;Provider=x;; ;", {{"Provider", "x"}}},
      {"", {}},
      {"   ", {}},
      {"Password=;User ID=a", {{"Password", ""}, {"User ID", "a"}}},
      {"Password=", {{"Password", ""}}},
      // Quoted values keep semicolons and blanks; a doubled quote is literal.
      {"Password=\" a;b \" ;User ID=x", {{"Password", " a;b "}, {"User ID", "x"}}},
      {"Password=\"say \"\"hi\"\";\"", {{"Password", "say \"hi\";"}}},
      {"Password='it''s'", {{"Password", "it's"}}},
      {"Password='\"quoted\";x'", {{"Password", "\"quoted\";x"}}},
      // A quote inside a plain value is literal.
      {"Password=ab\"c'd", {{"Password", "ab\"c'd"}}},
      // A doubled equal sign belongs to the name.
      {"a==b=c=d", {{"a=b", "c=d"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(c.text), c.attributes) << c.text;
}

TEST(OleDbConnectionStringTest, ReadsWhatTheProgramsQuotingWrites) {
  const std::string values[] = {"plain",  "a;b",     "\"lead",   "'lead", " blank",
                                "blank ", "x\"y;'z", "\"only\"", "it's;", ""};
  for (const std::string& value : values) {
    const std::string text = "Provider=p;Password=" + QuoteConnectionValue(value) + ";User ID=u";
    EXPECT_THAT(Parse(text), ElementsAre(Attribute{"Provider", "p"}, Attribute{"Password", value},
                                         Attribute{"User ID", "u"}))
        << text;
  }
}

TEST(OleDbConnectionStringTest, RejectsMalformedStrings) {
  const TextCase cases[] = {
      {"Provider=x;Password=\"open", "no closing quote"},
      {"Password=\"a\"b", "after its closing quote"},
      {"Provider=x;justaword", "has no \"=\""},
      {"=value", "no name"},
  };
  for (const auto& c : cases) {
    EXPECT_THAT(RefusalOf([&] { ParseOleDbConnectionString(c.input); }), HasSubstr(c.expected))
        << c.input;
  }
}

TEST(OleDbConnectionStringTest, FirstProviderCounts) {
  EXPECT_EQ(ProviderOf(Parse("provider=one;PROVIDER=two")), "one");
  EXPECT_EQ(ProviderOf(Parse("Data Source=x")), std::nullopt);
}

TEST(OdbcAttributesTest, RenamesTheOleDbAttributesAndKeepsTheLastOfAName) {
  const AttributesCase cases[] = {
      {"Provider=sqloledb;Data Source=h,1433;Initial Catalog=QLX_v3_0;User ID=u;Password=p;"
       "Integrated Security=SSPI",
       {{"Server", "h,1433"},
        {"Database", "QLX_v3_0"},
        {"UID", "u"},
        {"PWD", "p"},
        {"Trusted_Connection", "Yes"}}},
      // Names compare without case.
      {"DATA SOURCE=h;user id=u;integrated security=sspi",
       {{"Server", "h"}, {"UID", "u"}, {"Trusted_Connection", "Yes"}}},
      // Other attributes pass through as they are.
      {"Persist Security Info=False;Port=5433;Integrated Security=false",
       {{"Persist Security Info", "False"}, {"Port", "5433"}, {"Integrated Security", "false"}}},
      // The last value counts, at the place of the first occurrence.
      {"User ID=a;Password=p;UID=b;Server=s;Data Source=t",
       {{"UID", "b"}, {"PWD", "p"}, {"Server", "t"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(TranslateAttributes(Parse(c.text)), c.attributes) << c.text;
}

TEST(OdbcValueTest, BracesOnlyValuesThatWouldBreakTheString) {
  const TextCase cases[] = {
      {"db1,1433", "db1,1433"},
      {"host\\instance", "host\\instance"},
      {"a b", "a b"},
      {"x=y\"z'", "x=y\"z'"},
      {"", ""},
      {"a;b", "{a;b}"},
      {"{x", "{{x}"},
      {"a}b", "{a}}b}"},
      {" lead", "{ lead}"},
      {"trail\t", "{trail\t}"},
  };
  for (const auto& c : cases) EXPECT_EQ(OdbcValue(c.input), c.expected) << c.input;
}

TEST(OdbcConnectionStringTest, DataSourceComesFirstSoTheAttributesOverrideIt) {
  EXPECT_EQ(OdbcConnectionString("sqloledb", {{"Server", "h"}, {"PWD", "a;}b"}}),
            "DSN=sqloledb;Server=h;PWD={a;}}b};");
}

// The data sources the translation may meet.
constexpr DataSource kUnknown{};
constexpr DataSource kWithDatabase{true, true, DriverKind::kOther};
constexpr DataSource kSQLite{true, false, DriverKind::kSQLite};
constexpr DataSource kSQLiteWithDatabase{true, true, DriverKind::kSQLite};

std::string Translate(const std::string& ole_db, const DataSource& source) {
  return TranslateConnectionString(ole_db, [&](const std::string&) { return source; });
}

TEST(TranslateConnectionStringTest, TheProgramsStringsBecomeWhatTheDataSourceTakes) {
  const std::string sql_server =
      "Provider=sqloledb;Data Source=db1,1433;Initial Catalog=QLX_v3_0;Integrated Security=SSPI";
  const std::string oracle =
      "Provider=OraOLEDB.Oracle;User ID=qlx;Password=\"se;cr\"\"et \";Data Source=QLXDB";
  const struct {
    std::string input;
    DataSource source;
    std::string expected;
  } cases[] = {
      {sql_server, kUnknown,
       "DSN=sqloledb;Server=db1,1433;Database=QLX_v3_0;Trusted_Connection=Yes;"},
      {sql_server, kWithDatabase, "DSN=sqloledb;Server=db1,1433;Trusted_Connection=Yes;"},
      {sql_server, kSQLite, "DSN=sqloledb;Database=QLX_v3_0;"},
      {sql_server, kSQLiteWithDatabase, "DSN=sqloledb;"},
      {oracle, kUnknown, "DSN=OraOLEDB.Oracle;UID=qlx;PWD={se;cr\"et };Server=QLXDB;"},
      {oracle, kSQLite, "DSN=OraOLEDB.Oracle;"},
      // No braces for a driver that does not read them.
      {"Provider=p;Initial Catalog=\" x \"", kSQLite, "DSN=p;Database= x ;"},
      {"Provider=\"a;b\"", kUnknown, "DSN={a;b};"},
  };
  for (const auto& c : cases) EXPECT_EQ(Translate(c.input, c.source), c.expected) << c.input;
}

TEST(TranslateConnectionStringTest, NoConnectionWithoutAProviderOrFromAMalformedString) {
  const struct {
    const char* input;
    DataSource source;
    const char* expected;
  } cases[] = {
      {"", kUnknown, "Provider not specified"},
      {"Data Source=x;User ID=u", kUnknown, "Provider not specified"},
      {"Provider=;Data Source=x", kUnknown, "Provider not specified"},
      {"Provider=  ;Data Source=x", kUnknown, "Provider not specified"},
      {"Provider=sqloledb;Password=\"x", kUnknown, "no closing quote"},
      // The SQLite driver would read the rest as attributes of its own.
      {"Provider=p;Initial Catalog=\"a.db;Database=/x/other.db\"", kSQLite,
       "holding \";\", \"{\" or \"}\": Database"},
      {"Provider=p;Initial Catalog={a.db}", kSQLite, ": Database"},
      {"Provider=p;Initial Catalog=a.db;Timeout=}", kSQLiteWithDatabase, ": Timeout"},
  };
  for (const auto& c : cases) {
    EXPECT_THAT(RefusalOf([&] { Translate(c.input, c.source); }), HasSubstr(c.expected)) << c.input;
  }
}

}  // namespace
}  // namespace qlx::platform::odbc
