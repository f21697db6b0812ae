#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "config/properties_file.h"
#include "fakes/sandbox.h"
#include "platform/text.h"

namespace qlx::testing {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

class PropertiesFileTest : public SandboxTest {
 protected:
  // Every key and value the scan hands out, for a file of the given bytes.
  Pairs Scan(const std::string& content) {
    WriteFile("host/test.props", content);
    Pairs seen;
    EXPECT_TRUE(ScanPropertiesFile(HostDirectory() + "\\test.props",
                                   [&seen](const std::string& key, const std::string& value) {
                                     seen.emplace_back(key, value);
                                     return true;
                                   }));
    return seen;
  }
};

TEST_F(PropertiesFileTest, KeysAreUntrimmedAndValuesLoseTrailingWhiteSpaceOnly) {
  EXPECT_EQ(Scan("dbType=Oracle\n"
                 "dbType = Oracle\r\n"
                 "dbType= Oracle \t\r\n"
                 "  dbType=Oracle\n"
                 "a=b=c\n"
                 "#dbType=Oracle"),
            (Pairs{{"dbType", "Oracle"},
                   {"dbType ", " Oracle"},
                   {"dbType", " Oracle"},
                   {"  dbType", "Oracle"},
                   {"a", "b=c"},
                   {"#dbType", "Oracle"}}));
}

TEST_F(PropertiesFileTest, LinesWithoutSeparatorAreSkippedEvenAtTheEnd) {
  EXPECT_EQ(Scan("\nno separator\nkey=\ndbType"), (Pairs{{"key", ""}}));
}

TEST_F(PropertiesFileTest, ALongLineArrivesInPiecesOf199Characters) {
  const std::string value(229, 'v');
  const Pairs seen = Scan("ov.Database.hostName=" + value + "\nnext=1\n");
  // 21 characters of key and "=" leave 178 of the value in the first piece;
  // the other 51 and the line feed form a line without "=".
  EXPECT_EQ(seen, (Pairs{{"ov.Database.hostName", value.substr(0, 178)}, {"next", "1"}}));
}

TEST_F(PropertiesFileTest, TheVisitorStopsTheScan) {
  WriteFile("host/test.props", "dbType=first\ndbType=second\n");
  std::vector<std::string> values;
  ScanPropertiesFile(HostDirectory() + "\\test.props",
                     [&values](const std::string&, const std::string& value) {
                       values.push_back(value);
                       return false;
                     });
  EXPECT_THAT(values, ::testing::ElementsAre("first"));
}

TEST_F(PropertiesFileTest, AMissingFileReportsItsErrorCode) {
  uint32_t error = 0;
  EXPECT_FALSE(ScanPropertiesFile(
      HostDirectory() + "\\missing.props",
      [](const std::string&, const std::string&) { return true; }, &error));
  EXPECT_EQ(error, 2u);
  EXPECT_FALSE(ScanPropertiesFile(
      HostDirectory() + "\\missing\\x.props",
      [](const std::string&, const std::string&) { return true; }, &error));
  EXPECT_EQ(error, 3u);
}

TEST(TextOperations, TrimAndRemoveUseExactlySixWhiteSpaceCharacters) {
  std::string text = "  a b\t\n";
  EXPECT_EQ(TrimTrailingWhiteSpace(text), "  a b");
  EXPECT_EQ(text, "  a b");

  std::string digits = " 1 2\n";
  RemoveWhiteSpace(digits);
  EXPECT_EQ(digits, "12");

  std::string all = "\x01 \t\n\v\f\r\xa0x";
  RemoveWhiteSpace(all);
  EXPECT_EQ(all, "\x01\xa0x");  // control and high bytes are not white space
}

TEST(TextOperations, ParseDigitsAcceptsOnlyPlainDigitRuns) {
  EXPECT_EQ(ParseDigits("120"), 120);
  EXPECT_EQ(ParseDigits("007"), 7);
  EXPECT_EQ(ParseDigits("2147483647"), 2147483647);
  for (const char* not_a_number :
       {"0", "", "1a", "-1", " 1", "1.5", "2147483648", "99999999999999999999"}) {
    EXPECT_EQ(ParseDigits(not_a_number), 0) << not_a_number;
  }
}

}  // namespace
}  // namespace qlx::testing
