#pragma once

// Turns the OLE DB connection strings that the program builds into ODBC
// connection strings for the driver manager.
//
// The provider named in the string selects an ODBC data source of the same
// name ("Provider=sqloledb" connects to the data source "sqloledb"); the other
// attributes are renamed to their ODBC keywords and follow the data source, so
// that they override what the data source itself says.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/odbc_data_sources.h"

namespace qlx::platform::odbc {

struct Attribute {
  std::string name;
  std::string value;
};

// The attributes of an OLE DB connection string, in their order. A malformed
// string throws ComError(E_FAIL) saying why, as a provider refuses it when the
// connection opens. Attributes are separated by
// ";"; a name ends at the first "=" that is not doubled ("==" is an "=" in the
// name); blanks around names and unquoted values are dropped; a value may
// stand in double or single quotes, inside which the quote character doubled
// stands for itself. Empty attributes (";;") are skipped.
std::vector<Attribute> ParseOleDbConnectionString(const std::string& text);

// The value of the first "Provider" attribute (names compare without regard
// to case), or nothing. OLE DB lets the first Provider count.
std::optional<std::string> ProviderOf(const std::vector<Attribute>& attributes);

// The ODBC attributes for the OLE DB ones, Provider left out: "Data Source"
// becomes Server, "Initial Catalog" Database, "User ID" UID, "Password" PWD,
// "Integrated Security=SSPI" Trusted_Connection=Yes; every other attribute is
// kept as it is. When a name occurs more than once the last value counts, as
// in OLE DB; it stays at the place of its first occurrence.
std::vector<Attribute> TranslateAttributes(const std::vector<Attribute>& attributes);

// A value as ODBC wants it written: in braces, with "}" doubled, when it holds
// ";", "{" or "}" or begins or ends with a blank; otherwise unchanged.
std::string OdbcValue(const std::string& value);

// "DSN=<data source>;" followed by each attribute as "name=value;", the
// values as OdbcValue writes them, but for the SQLite driver, which does not
// read braces: it gets them as they are.
std::string OdbcConnectionString(const std::string& data_source,
                                 const std::vector<Attribute>& attributes,
                                 DriverKind driver = DriverKind::kOther);

// The attributes as the data source's driver is to get them. A data source
// that names its own Database keeps it. The SQLite driver gets only what it
// uses (no Server, UID, PWD or Trusted_Connection), and since it reads braces
// as part of a value, a value holding ";", "{" or "}" would end early or
// smuggle in attributes of its own: it throws ComError(E_FAIL) naming the
// attribute.
std::vector<Attribute> AttributesFor(const DataSource& source, std::vector<Attribute> attributes);

// Where the provider's data source is looked up.
using DataSourceLookUp = std::function<DataSource(const std::string& name)>;

// What SQLDriverConnect is given for an OLE DB connection string, for the
// data source that `look_up` finds for its provider. Throws ComError(E_FAIL)
// saying why when no connection can be attempted: the string is malformed,
// names no provider, or holds a value the driver cannot be given.
std::string TranslateConnectionString(const std::string& ole_db, const DataSourceLookUp& look_up);

}  // namespace qlx::platform::odbc
