// Feeds arbitrary bytes to the connection-string quoting and to the reading
// of OLE DB connection strings that the ODBC translation does. No input may
// crash them, and:
// - the values that the program quotes into its connection strings (its
//   pieces between NULs) are read back as the same values, each under its
//   own name;
// - the translation of any string connects exactly when the string reads
//   and names a provider.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "database/connection_string.h"
#include "platform/database.h"
#include "platform/posix/odbc_connection_string.h"

namespace {

using qlx::QuoteConnectionValue;
using qlx::platform::odbc::Attribute;
using Attributes = std::vector<Attribute>;

constexpr char kOracleProvider[] = "OraOLEDB.Oracle";

// Ends the run as a crash, saying which property failed.
void Require(bool condition, const char* property) {
  if (condition) return;
  std::fprintf(stderr, "property failed: %s\n", property);
  std::abort();
}

bool Same(const std::optional<Attributes>& read, const Attributes& expected) {
  if (!read || read->size() != expected.size()) return false;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if ((*read)[i].name != expected[i].name || (*read)[i].value != expected[i].value) return false;
  }
  return true;
}

// The first three pieces of the input between NULs: a text read from the
// registry or a properties file ends at its first NUL.
std::vector<std::string> Values(const std::string& input) {
  std::vector<std::string> values(1);
  for (const char c : input) {
    if (c != '\0') {
      values.back().push_back(c);
    } else if (values.size() < 3) {
      values.emplace_back();
    }
  }
  values.resize(3);
  return values;
}

// The attributes, or nothing when the string is refused as malformed.
std::optional<Attributes> Read(const std::string& text) {
  try {
    return qlx::platform::odbc::ParseOleDbConnectionString(text);
  } catch (const qlx::platform::ComError&) {
    return std::nullopt;
  }
}

// What the driver manager is given, or nothing when no connection is tried.
std::optional<std::string> Translated(const std::string& text) {
  try {
    return qlx::platform::odbc::TranslateConnectionString(
        text, [](const std::string&) { return qlx::platform::odbc::DataSource{}; });
  } catch (const qlx::platform::ComError&) {
    return std::nullopt;
  }
}

bool NamesDataSource(const std::optional<std::string>& odbc, const std::string& provider) {
  const std::string prefix = "DSN=" + qlx::platform::odbc::OdbcValue(provider) + ";";
  return odbc && odbc->compare(0, prefix.size(), prefix) == 0;
}

// As the program builds its Oracle and SQL Server strings.
void CheckQuotedValuesReadBack(const std::string& input) {
  const std::vector<std::string> values = Values(input);
  const std::string oracle = std::string("Provider=") + kOracleProvider +
                             ";User ID=" + QuoteConnectionValue(values[0]) +
                             ";Password=" + QuoteConnectionValue(values[1]) +
                             ";Data Source=" + QuoteConnectionValue(values[2]);
  const Attributes oracle_attributes{{"Provider", kOracleProvider},
                                     {"User ID", values[0]},
                                     {"Password", values[1]},
                                     {"Data Source", values[2]}};
  Require(Same(Read(oracle), oracle_attributes), "the Oracle string reads back its values");
  Require(NamesDataSource(Translated(oracle), kOracleProvider),
          "the Oracle string connects to its provider");

  const std::string sql_server =
      "Provider=sqloledb;Data Source=" + QuoteConnectionValue(values[0]) +
      ";Initial Catalog=QLX_v3_0;Integrated Security=SSPI";
  const Attributes sql_server_attributes{{"Provider", "sqloledb"},
                                         {"Data Source", values[0]},
                                         {"Initial Catalog", "QLX_v3_0"},
                                         {"Integrated Security", "SSPI"}};
  Require(Same(Read(sql_server), sql_server_attributes),
          "the SQL Server string reads back its value");
}

void CheckTranslation(const std::string& input) {
  const std::optional<Attributes> attributes = Read(input);
  const std::optional<std::string> provider =
      attributes ? qlx::platform::odbc::ProviderOf(*attributes) : std::nullopt;
  const bool connects = provider && !provider->empty();
  const std::optional<std::string> odbc = Translated(input);
  Require(odbc.has_value() == connects, "a string connects when it reads and has a provider");
  Require(!connects || NamesDataSource(odbc, *provider), "the provider is the data source");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  CheckQuotedValuesReadBack(input);
  CheckTranslation(input);
  return 0;
}
