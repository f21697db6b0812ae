#include "database/connection_string.h"

#include "platform/text.h"

namespace qlx {
namespace {

bool NeedsQuoting(const std::string& value) {
  if (value.empty()) return false;
  // A value beginning with "=" would read as a doubled "=" inside the name.
  return value.find(';') != std::string::npos || value.front() == '"' || value.front() == '\'' ||
         value.front() == '=' || IsWhiteSpace(value.front()) || IsWhiteSpace(value.back());
}

}  // namespace

std::string QuoteConnectionValue(const std::string& value) {
  if (!NeedsQuoting(value)) return value;
  const bool has_double = value.find('"') != std::string::npos;
  const bool has_single = value.find('\'') != std::string::npos;
  if (has_double && !has_single) return "'" + value + "'";
  std::string quoted = "\"";
  for (char c : value) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

}  // namespace qlx
