#include "platform/posix/odbc_connection_string.h"

#include <cstddef>
#include <utility>

#include "platform/database.h"
#include "platform/posix/text_encoding.h"
#include "platform/text.h"
#include "platform/windows_codes.h"

namespace qlx::platform::odbc {
namespace {

constexpr char kNoProvider[] =
    "[qlxpatch]Provider not specified: no data source name to connect to";
constexpr char kBadFormat[] = "[qlxpatch]Format of the connection string is not valid: ";
constexpr char kUnsafeForSQLite[] =
    "[qlxpatch]The SQLite driver cannot be given a value holding \";\", \"{\" or \"}\": ";

// Names and keywords compare as Windows compares them, without regard to case.
bool SameName(const std::string& a, const std::string& b) { return posix::EqualIgnoringCase(a, b); }

// Reads an OLE DB connection string attribute by attribute.
class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  std::vector<Attribute> Parse() {
    std::vector<Attribute> attributes;
    while (SkipSeparators()) {
      std::optional<Attribute> attribute = ReadAttribute();
      if (!attribute) throw ComError(kEFail, kBadFormat + error_);
      attributes.push_back(std::move(*attribute));
    }
    return attributes;
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }
  void SkipBlanks() {
    while (!AtEnd() && IsWhiteSpace(Peek())) ++pos_;
  }

  // Skips blanks and empty attributes; false at the end of the text.
  bool SkipSeparators() {
    while (!AtEnd() && (IsWhiteSpace(Peek()) || Peek() == ';')) ++pos_;
    return !AtEnd();
  }

  std::optional<Attribute> ReadAttribute() {
    std::optional<std::string> name = ReadName();
    if (!name) return std::nullopt;
    std::optional<std::string> value = ReadValue(*name);
    if (!value) return std::nullopt;
    return Attribute{std::move(*name), std::move(*value)};
  }

  // The name up to its "=", which is consumed; "==" stands for "=".
  std::optional<std::string> ReadName() {
    std::string name;
    while (!AtEnd() && Peek() != ';') {
      const char c = text_[pos_++];
      if (c != '=') {
        name += c;
      } else if (!AtEnd() && Peek() == '=') {
        name += '=';
        ++pos_;
      } else {
        TrimTrailingWhiteSpace(name);
        if (name.empty()) return Fail("an attribute has no name");
        return name;
      }
    }
    return Fail("the attribute \"" + TrimTrailingWhiteSpace(name) + "\" has no \"=\"");
  }

  std::optional<std::string> ReadValue(const std::string& name) {
    SkipBlanks();
    if (AtEnd() || (Peek() != '"' && Peek() != '\'')) return ReadPlainValue();
    std::optional<std::string> value = ReadQuotedValue(name);
    if (!value) return std::nullopt;
    SkipBlanks();
    if (!AtEnd() && Peek() != ';') {
      return Fail("the value of \"" + name + "\" goes on after its closing quote");
    }
    return value;
  }

  std::string ReadPlainValue() {
    std::string value;
    while (!AtEnd() && Peek() != ';') value += text_[pos_++];
    return TrimTrailingWhiteSpace(value);
  }

  std::optional<std::string> ReadQuotedValue(const std::string& name) {
    const char quote = text_[pos_++];
    std::string value;
    while (!AtEnd()) {
      const char c = text_[pos_++];
      if (c != quote) {
        value += c;
      } else if (!AtEnd() && Peek() == quote) {
        value += quote;
        ++pos_;
      } else {
        return value;
      }
    }
    return Fail("the value of \"" + name + "\" has no closing quote");
  }

  std::nullopt_t Fail(std::string reason) {
    error_ = std::move(reason);
    return std::nullopt;
  }

  const std::string& text_;
  std::size_t pos_ = 0;
  std::string error_;
};

// The ODBC form of one OLE DB attribute.
Attribute Translate(const Attribute& attribute) {
  static const std::pair<const char*, const char*> kRenamed[] = {
      {"Data Source", "Server"},
      {"Initial Catalog", "Database"},
      {"User ID", "UID"},
      {"Password", "PWD"},
  };
  for (const auto& [ole_db, odbc] : kRenamed) {
    if (SameName(attribute.name, ole_db)) return Attribute{odbc, attribute.value};
  }
  if (SameName(attribute.name, "Integrated Security") && SameName(attribute.value, "SSPI")) {
    return Attribute{"Trusted_Connection", "Yes"};
  }
  return attribute;
}

// Sets the attribute in the list: a later value replaces an earlier one.
void Merge(std::vector<Attribute>& attributes, Attribute attribute) {
  for (Attribute& existing : attributes) {
    if (SameName(existing.name, attribute.name)) {
      existing.value = std::move(attribute.value);
      return;
    }
  }
  attributes.push_back(std::move(attribute));
}

// The translated attributes that mean nothing to the SQLite driver.
bool UnusedBySQLite(const Attribute& attribute) {
  for (const char* name : {"Server", "UID", "PWD", "Trusted_Connection"}) {
    if (SameName(attribute.name, name)) return true;
  }
  return false;
}

bool NeedsBraces(const std::string& value) {
  if (value.empty()) return false;
  return value.find_first_of(";{}") != std::string::npos || IsWhiteSpace(value.front()) ||
         IsWhiteSpace(value.back());
}

}  // namespace

std::vector<Attribute> ParseOleDbConnectionString(const std::string& text) {
  return Parser(text).Parse();
}

std::optional<std::string> ProviderOf(const std::vector<Attribute>& attributes) {
  for (const Attribute& attribute : attributes) {
    if (SameName(attribute.name, "Provider")) return attribute.value;
  }
  return std::nullopt;
}

std::vector<Attribute> TranslateAttributes(const std::vector<Attribute>& attributes) {
  std::vector<Attribute> translated;
  for (const Attribute& attribute : attributes) {
    if (!SameName(attribute.name, "Provider")) Merge(translated, Translate(attribute));
  }
  return translated;
}

std::string OdbcValue(const std::string& value) {
  if (!NeedsBraces(value)) return value;
  std::string braced = "{";
  for (char c : value) {
    braced += c;
    if (c == '}') braced += '}';
  }
  return braced + "}";
}

std::string OdbcConnectionString(const std::string& data_source,
                                 const std::vector<Attribute>& attributes, DriverKind driver) {
  const bool braces = driver != DriverKind::kSQLite;
  std::string text = "DSN=" + OdbcValue(data_source) + ";";
  for (const Attribute& attribute : attributes) {
    text += attribute.name + "=" + (braces ? OdbcValue(attribute.value) : attribute.value) + ";";
  }
  return text;
}

std::vector<Attribute> AttributesFor(const DataSource& source, std::vector<Attribute> attributes) {
  std::vector<Attribute> kept;
  for (Attribute& attribute : attributes) {
    if (source.names_database && SameName(attribute.name, "Database")) continue;
    if (source.driver == DriverKind::kSQLite) {
      if (UnusedBySQLite(attribute)) continue;
      if (attribute.value.find_first_of(";{}") != std::string::npos) {
        throw ComError(kEFail, kUnsafeForSQLite + attribute.name);
      }
    }
    kept.push_back(std::move(attribute));
  }
  return kept;
}

std::string TranslateConnectionString(const std::string& ole_db, const DataSourceLookUp& look_up) {
  const std::vector<Attribute> attributes = ParseOleDbConnectionString(ole_db);
  const std::optional<std::string> provider = ProviderOf(attributes);
  if (!provider || provider->empty()) throw ComError(kEFail, kNoProvider);
  const DataSource source = look_up(*provider);
  return OdbcConnectionString(*provider, AttributesFor(source, TranslateAttributes(attributes)),
                              source.driver);
}

}  // namespace qlx::platform::odbc
