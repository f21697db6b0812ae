#include "platform/posix/odbc_connection_string.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "database/connection_string.h"

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
using ::testing::IsEmpty;

std::vector<Attribute> Parse(const std::string& text) {
  std::string error;
  std::optional<std::vector<Attribute>> attributes = ParseOleDbConnectionString(text, &error);
  EXPECT_TRUE(attributes.has_value()) << text << ": " << error;
  return attributes.value_or(std::vector<Attribute>{});
}

std::string ParseError(const std::string& text) {
  std::string error;
  EXPECT_FALSE(ParseOleDbConnectionString(text, &error).has_value()) << text;
  return error;
}

TEST(OleDbConnectionStringTest, SplitsAttributesAtSemicolons) {
  EXPECT_THAT(Parse("Provider=sqloledb;Data Source=db1,1433;Initial Catalog=QLX_v3_0"),
              ElementsAre(Attribute{"Provider", "sqloledb"}, Attribute{"Data Source", "db1,1433"},
                          Attribute{"Initial Catalog", "QLX_v3_0"}));
}

TEST(OleDbConnectionStringTest, TrimsBlanksAroundNamesAndPlainValues) {
  EXPECT_THAT(Parse("  Provider = sqloledb ;\tUser ID=  scott\t; "),
              ElementsAre(Attribute{"Provider", "sqloledb"}, Attribute{"User ID", "scott"}));
}

TEST(OleDbConnectionStringTest, KeepsBlanksInsideNamesAndValues) {
  EXPECT_THAT(Parse("Data Source=my server"), ElementsAre(Attribute{"Data Source", "my server"}));
}

TEST(OleDbConnectionStringTest, SkipsEmptyAttributes) {
  EXPECT_THAT(Parse(";;Provider=x;; ;"), ElementsAre(Attribute{"Provider", "x"}));
  EXPECT_THAT(Parse(""), IsEmpty());
  EXPECT_THAT(Parse("   "), IsEmpty());
}

TEST(OleDbConnectionStringTest, TakesAnEmptyValue) {
  EXPECT_THAT(Parse("Password=;User ID=a"),
              ElementsAre(Attribute{"Password", ""}, Attribute{"User ID", "a"}));
  EXPECT_THAT(Parse("Password="), ElementsAre(Attribute{"Password", ""}));
}

TEST(OleDbConnectionStringTest, DoubleQuotedValueKeepsSemicolonsAndBlanks) {
  EXPECT_THAT(Parse("Password=\" a;b \" ;User ID=x"),
              ElementsAre(Attribute{"Password", " a;b "}, Attribute{"User ID", "x"}));
}

TEST(OleDbConnectionStringTest, DoubledQuoteInsideQuotesIsLiteral) {
  EXPECT_THAT(Parse("Password=\"say \"\"hi\"\";\""),
              ElementsAre(Attribute{"Password", "say \"hi\";"}));
  EXPECT_THAT(Parse("Password='it''s'"), ElementsAre(Attribute{"Password", "it's"}));
}

TEST(OleDbConnectionStringTest, SingleQuotesMayHoldDoubleQuotes) {
  EXPECT_THAT(Parse("Password='\"quoted\";x'"), ElementsAre(Attribute{"Password", "\"quoted\";x"}));
}

TEST(OleDbConnectionStringTest, QuoteInsideAPlainValueIsLiteral) {
  EXPECT_THAT(Parse("Password=ab\"c'd"), ElementsAre(Attribute{"Password", "ab\"c'd"}));
}

TEST(OleDbConnectionStringTest, DoubledEqualSignBelongsToTheName) {
  EXPECT_THAT(Parse("a==b=c=d"), ElementsAre(Attribute{"a=b", "c=d"}));
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
  EXPECT_THAT(ParseError("Provider=x;Password=\"open"), HasSubstr("no closing quote"));
  EXPECT_THAT(ParseError("Password=\"a\"b"), HasSubstr("after its closing quote"));
  EXPECT_THAT(ParseError("Provider=x;justaword"), HasSubstr("has no \"=\""));
  EXPECT_THAT(ParseError("=value"), HasSubstr("no name"));
}

TEST(OleDbConnectionStringTest, FirstProviderCounts) {
  EXPECT_EQ(ProviderOf(Parse("provider=one;PROVIDER=two")), "one");
  EXPECT_EQ(ProviderOf(Parse("Data Source=x")), std::nullopt);
}

TEST(OdbcAttributesTest, RenamesTheOleDbAttributes) {
  EXPECT_THAT(TranslateAttributes(Parse("Provider=sqloledb;Data Source=h,1433;"
                                        "Initial Catalog=QLX_v3_0;User ID=u;Password=p;"
                                        "Integrated Security=SSPI")),
              ElementsAre(Attribute{"Server", "h,1433"}, Attribute{"Database", "QLX_v3_0"},
                          Attribute{"UID", "u"}, Attribute{"PWD", "p"},
                          Attribute{"Trusted_Connection", "Yes"}));
}

TEST(OdbcAttributesTest, NamesCompareWithoutCase) {
  EXPECT_THAT(TranslateAttributes(Parse("DATA SOURCE=h;user id=u;integrated security=sspi")),
              ElementsAre(Attribute{"Server", "h"}, Attribute{"UID", "u"},
                          Attribute{"Trusted_Connection", "Yes"}));
}

TEST(OdbcAttributesTest, PassesUnknownAttributesThrough) {
  EXPECT_THAT(TranslateAttributes(Parse("Persist Security Info=False;Port=5433;"
                                        "Integrated Security=false")),
              ElementsAre(Attribute{"Persist Security Info", "False"}, Attribute{"Port", "5433"},
                          Attribute{"Integrated Security", "false"}));
}

TEST(OdbcAttributesTest, LastOccurrenceOfANameCounts) {
  EXPECT_THAT(TranslateAttributes(Parse("User ID=a;Password=p;UID=b;Server=s;Data Source=t")),
              ElementsAre(Attribute{"UID", "b"}, Attribute{"PWD", "p"}, Attribute{"Server", "t"}));
}

TEST(OdbcValueTest, LeavesOrdinaryValuesAlone) {
  EXPECT_EQ(OdbcValue("db1,1433"), "db1,1433");
  EXPECT_EQ(OdbcValue("host\\instance"), "host\\instance");
  EXPECT_EQ(OdbcValue("a b"), "a b");
  EXPECT_EQ(OdbcValue("x=y\"z'"), "x=y\"z'");
  EXPECT_EQ(OdbcValue(""), "");
}

TEST(OdbcValueTest, BracesValuesThatWouldBreakTheString) {
  EXPECT_EQ(OdbcValue("a;b"), "{a;b}");
  EXPECT_EQ(OdbcValue("{x"), "{{x}");
  EXPECT_EQ(OdbcValue("a}b"), "{a}}b}");
  EXPECT_EQ(OdbcValue(" lead"), "{ lead}");
  EXPECT_EQ(OdbcValue("trail\t"), "{trail\t}");
}

TEST(OdbcConnectionStringTest, DataSourceComesFirstSoTheAttributesOverrideIt) {
  EXPECT_EQ(OdbcConnectionString("sqloledb", {{"Server", "h"}, {"PWD", "a;}b"}}),
            "DSN=sqloledb;Server=h;PWD={a;}}b};");
}

TEST(TranslateConnectionStringTest, SqlServerString) {
  const OdbcTarget target = TranslateConnectionString(
      "Provider=sqloledb;Data Source=db1,1433;Initial Catalog=QLX_v3_0;Integrated Security=SSPI");
  EXPECT_EQ(target.error, "");
  EXPECT_EQ(target.data_source, "sqloledb");
  EXPECT_EQ(target.connection_string,
            "DSN=sqloledb;Server=db1,1433;Database=QLX_v3_0;Trusted_Connection=Yes;");
}

TEST(TranslateConnectionStringTest, OracleStringWithQuotedPassword) {
  const OdbcTarget target = TranslateConnectionString(
      "Provider=OraOLEDB.Oracle;User ID=qlx;Password=\"se;cr\"\"et \";Data Source=QLXDB");
  EXPECT_EQ(target.error, "");
  EXPECT_EQ(target.data_source, "OraOLEDB.Oracle");
  EXPECT_EQ(target.connection_string, "DSN=OraOLEDB.Oracle;UID=qlx;PWD={se;cr\"et };Server=QLXDB;");
}

TEST(TranslateConnectionStringTest, ProviderIsRequired) {
  for (const char* text :
       {"", "Data Source=x;User ID=u", "Provider=;Data Source=x", "Provider=  ;Data Source=x"}) {
    const OdbcTarget target = TranslateConnectionString(text);
    EXPECT_THAT(target.error, HasSubstr("Provider not specified")) << text;
    EXPECT_EQ(target.connection_string, "") << text;
  }
}

TEST(TranslateConnectionStringTest, MalformedStringIsRefused) {
  const OdbcTarget target = TranslateConnectionString("Provider=sqloledb;Password=\"x");
  EXPECT_THAT(target.error, HasSubstr("no closing quote"));
  EXPECT_EQ(target.connection_string, "");
}

TEST(TranslateConnectionStringTest, ProviderNeedingBracesIsBracedAsDataSource) {
  EXPECT_EQ(TranslateConnectionString("Provider=\"a;b\"").connection_string, "DSN={a;b};");
}

}  // namespace
}  // namespace qlx::platform::odbc
