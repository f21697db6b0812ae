// Where the stand-ins must give what Windows gives, because the outcome of a
// rehearsal depends on it: text-mode reads, files that may only be read, and
// the boundary between the program's Windows-1252 texts and Linux's UTF-8.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "odbc_test_environment.h"
#include "platform/files.h"
#include "platform/services.h"
#include "posix_test_support.h"

namespace qlx::posix_tests {
namespace {

// The whole text of the file as the program reads it (mode "r"), or "no file".
std::string ReadAsProgram(const std::string& path) {
  platform::UniqueFile file = platform::OpenFile(path, "r");
  if (!file) return "no file";
  std::string text;
  char buffer[199];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, count);
  return text;
}

std::string ReadBack(const fs::path& file, const std::string& bytes) {
  WriteBytes(file, bytes);
  return ReadAsProgram(file.string());
}

// The code of the refusal, and whether the file kept its bytes.
std::string Outcome(uint32_t code, const fs::path& file, const std::string& bytes) {
  return std::to_string(code) + (ReadBytes(file) == bytes ? " unchanged" : " changed");
}

std::string ServicesManagerOfReadOnlyFile(const fs::path& file) {
  const std::string bytes = "OV Quellmark=running\n";
  WriteBytes(file, bytes);
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  ScopedEnvironment variable("QLX_SERVICES_FILE", file.string());
  uint32_t error = 0;
  std::unique_ptr<platform::ServiceManager> manager =
      platform::SystemServices().OpenManager(&error);
  return Outcome(manager ? 0 : error, file, bytes);
}

std::string CopyOntoReadOnlyFile(const fs::path& directory) {
  const std::string bytes = "<tools version='4.2'/>";
  const fs::path target = directory / "installed.xml";
  WriteBytes(directory / "new.xml", "<tools version='4.3.1'/>");
  WriteBytes(target, bytes);
  fs::permissions(target, fs::perms::owner_read);
  return Outcome(platform::CopyFileReplacing((directory / "new.xml").string(), target.string()),
                 target, bytes);
}

// A directory made under its UTF-8 name, opened through the ANSI path the
// program forms (a directory, then a suffix with backslashes).
std::string OpenThroughAnsiName(const fs::path& parent, const std::string& utf8_name,
                                const std::string& ansi_name) {
  fs::create_directories(parent / utf8_name / "config");
  WriteBytes(parent / utf8_name / "config" / "globalsettings.props", "dbType=Oracle\n");
  return ReadAsProgram(parent.string() + "/" + ansi_name + "\\config\\globalsettings.props");
}

std::string DriverMessageOfUnknownTable(const fs::path& directory) {
  ScopedOdbcConfiguration config;
  std::unique_ptr<platform::Connection> connection =
      Open(SQLiteSqlServerString((directory / "qlx.db").string()));
  const std::optional<std::string> description = ErrorOf([&] {
                                                   connection->Execute(
                                                       "SELECT * FROM \xDC"
                                                       "bersicht");
                                                 }).Description();
  return description.value_or("none");
}

TEST(WindowsLikenessTest, StandInsGiveWhatWindowsGives) {
  ScratchDirectory scratch;
  const fs::path dir = scratch.path();
  const std::string long_line(65535, 'x');
  const struct {
    const char* what;
    std::function<std::string()> run;
    ::testing::Matcher<std::string> expected;
  } cases[] = {
      {"text mode: CR LF reads as LF, a lone CR stays",
       [&] { return ReadBack(dir / "a.txt", "a\r\nb\rc\r\r\n"); }, "a\nb\rc\r\n"},
      {"text mode: Ctrl-Z ends the file",
       [&] {
         return ReadBack(dir / "t.txt",
                         "Query_Timeout_Value=120\r\n\x1a"
                         "5");
       },
       "Query_Timeout_Value=120\n"},
      {"text mode: a CR LF split across two reads",
       [&] { return ReadBack(dir / "l.txt", long_line + "\r\nz\r"); }, long_line + "\nz\r"},
      {"read-only services file: the manager is refused",
       [&] { return ServicesManagerOfReadOnlyFile(dir / "services"); }, "5 unchanged"},
      {"copy onto a file without write bits", [&] { return CopyOntoReadOnlyFile(dir); },
       "5 unchanged"},
      {"Windows-1252 name of a UTF-8 directory",
       [&] {
         return OpenThroughAnsiName(dir,
                                    "\xC3\x9C"
                                    "berwachung Vantline",
                                    "\xDC"
                                    "berwachung Vantline");
       },
       "dbType=Oracle\n"},
      {"a byte Windows-1252 leaves unassigned still names a file",
       [&] {
         return OpenThroughAnsiName(dir,
                                    "x\xC2\x81"
                                    "y",
                                    "x\x81y");
       },
       "dbType=Oracle\n"},
      {"a driver's message comes back in Windows-1252",
       [&] { return DriverMessageOfUnknownTable(dir); },
       ::testing::HasSubstr("no such table: \xDC"
                            "bersicht")},
  };
  for (const auto& c : cases) EXPECT_THAT(c.run(), c.expected) << c.what;
}

}  // namespace
}  // namespace qlx::posix_tests
