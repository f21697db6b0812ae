#include "platform/posix/odbc_connection_string.h"

#include <cstddef>
#include <utility>

namespace qlx::platform::odbc {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string TrimEnd(std::string text) {
  while (!text.empty() && IsBlank(text.back())) text.pop_back();
  return text;
}

// Reads an OLE DB connection string attribute by attribute.
class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  std::optional<std::vector<Attribute>> Parse(std::string* error) {
    std::vector<Attribute> attributes;
    while (SkipSeparators()) {
      std::optional<Attribute> attribute = ReadAttribute();
      if (!attribute) {
        if (error) *error = error_;
        return std::nullopt;
      }
      attributes.push_back(std::move(*attribute));
    }
    return attributes;
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }
  void SkipBlanks() {
    while (!AtEnd() && IsBlank(Peek())) ++pos_;
  }

  // Skips blanks and empty attributes; false at the end of the text.
  bool SkipSeparators() {
    while (!AtEnd() && (IsBlank(Peek()) || Peek() == ';')) ++pos_;
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
        name = TrimEnd(std::move(name));
        if (name.empty()) return Fail("an attribute has no name");
        return name;
      }
    }
    return Fail("the attribute \"" + TrimEnd(name) + "\" has no \"=\"");
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
    return TrimEnd(std::move(value));
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

constexpr char kNoProvider[] =
    "[qlxpatch]Provider not specified: no data source name to connect to";
constexpr char kBadFormat[] = "[qlxpatch]Format of the connection string is not valid: ";

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

bool NeedsBraces(const std::string& value) {
  if (value.empty()) return false;
  return value.find_first_of(";{}") != std::string::npos || IsBlank(value.front()) ||
         IsBlank(value.back());
}

}  // namespace

std::optional<std::vector<Attribute>> ParseOleDbConnectionString(const std::string& text,
                                                                 std::string* error) {
  return Parser(text).Parse(error);
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
                                 const std::vector<Attribute>& attributes) {
  std::string text = "DSN=" + OdbcValue(data_source) + ";";
  for (const Attribute& attribute : attributes) {
    text += attribute.name + "=" + OdbcValue(attribute.value) + ";";
  }
  return text;
}

OdbcTarget TranslateConnectionString(const std::string& ole_db) {
  std::string reason;
  const std::optional<std::vector<Attribute>> attributes =
      ParseOleDbConnectionString(ole_db, &reason);
  if (!attributes) return OdbcTarget{"", "", kBadFormat + reason};
  const std::optional<std::string> provider = ProviderOf(*attributes);
  if (!provider || provider->empty()) return OdbcTarget{"", "", kNoProvider};
  return OdbcTarget{*provider, OdbcConnectionString(*provider, TranslateAttributes(*attributes)),
                    ""};
}

}  // namespace qlx::platform::odbc
