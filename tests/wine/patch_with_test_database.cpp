// The patch exactly as qlxpatch.exe runs it (the same sequence over the same
// Windows platform layer) with one exception: the database is a test double
// that opens and accepts every statement, since Wine's ADO cannot open a
// connection. The tests use it for the steps that follow an open connection:
// the version values, the tool registration and the service start.
//
// When the environment variable QLX_TEST_DATABASE_RECORD names a file, the
// program writes into it, after the run, what reached the database: the
// connection string, the two time-outs and every call, one a line.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/patch_sequence.h"
#include "fakes/fake_platform.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace {

using qlx::platform::UniqueFile;

void WriteLine(std::FILE* file, const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), file);
  std::fputc('\n', file);
}

void Record(const qlx::testing::FakeDatabase& database) {
  const char* const path = std::getenv("QLX_TEST_DATABASE_RECORD");
  if (path == nullptr || *path == '\0') return;
  const UniqueFile file(std::fopen(path, "wb"));
  if (!file) return;
  WriteLine(file.get(), "ConnectionString=" + database.connection_string);
  WriteLine(file.get(), "ConnectionTimeout=" + std::to_string(database.connection_timeout));
  WriteLine(file.get(), "CommandTimeout=" + std::to_string(database.command_timeout));
  for (const std::string& call : database.calls) WriteLine(file.get(), "Call=" + call);
}

}  // namespace

int main() {
  qlx::testing::FakeDatabase database;
  int status = 0;
  {
    qlx::platform::Facilities replacement{};
    replacement.database = &database;
    const qlx::platform::ScopedFacilities facilities(replacement);
    status = qlx::RunPatch();
  }
  Record(database);
  return status;
}
