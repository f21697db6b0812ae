#include "platform/posix/odbc_data_sources.h"

#include <odbcinst.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <vector>

#include "platform/posix/text_encoding.h"

namespace qlx::platform::odbc {
namespace {

// The value of one key in a section of odbc.ini or odbcinst.ini; empty when
// the section or the key is missing.
std::string ProfileString(const std::string& section, const char* key, const char* file) {
  const std::string section_text = posix::Utf8FromAnsi(section);
  std::vector<char> value(4096);
  const int length = SQLGetPrivateProfileString(section_text.c_str(), key, "", value.data(),
                                                static_cast<int>(value.size()), file);
  return length > 0 ? std::string(value.data()) : std::string();
}

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(name) + "=" + value : std::string(name) + " not set";
}

}  // namespace

DataSource LookUpDataSource(const std::string& name) {
  DataSource source;
  const std::string driver = ProfileString(name, "Driver", "odbc.ini");
  if (driver.empty()) return source;
  source.defined = true;
  source.names_database = !ProfileString(name, "Database", "odbc.ini").empty();
  // A driver registered by name leads to its library; a path is the library.
  const std::string library = ProfileString(driver, "Driver", "odbcinst.ini");
  source.driver = DriverKindOf(library.empty() ? driver : library);
  return source;
}

void ReportMissingDataSource(const std::string& name) {
  static std::mutex mutex;
  static std::set<std::string> reported;
  const std::lock_guard<std::mutex> lock(mutex);
  if (!reported.insert(name).second) return;
  std::fprintf(stderr, "qlxpatch: no ODBC data source \"%s\" in odbc.ini (%s, %s)\n",
               posix::Utf8FromAnsi(name).c_str(), Variable("ODBCINI").c_str(),
               Variable("ODBCSYSINI").c_str());
}

}  // namespace qlx::platform::odbc
