// qlxcheck: before the patch, whether it would work on this server; after
// it, whether its result is in place. It changes nothing the patch changes.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "check/checks.h"
#include "check/read_only_files.h"
#include "check/report.h"
#include "database/password_files.h"
#include "platform/files.h"
#include "platform/interruption.h"
#include "platform/platform.h"

namespace {

constexpr int kCannotCheck = 2;
constexpr std::chrono::seconds kRemoveBound{1};

constexpr char kUsage[] =
    "usage: qlxcheck [--after] [--json] [--dir PATH]\n"
    "  (none)      before the patch: would any of its steps fail here?\n"
    "  --after     after the patch: is its result in place?\n"
    "  --json      one JSON document instead of the table\n"
    "  --dir PATH  the folder the patch runs from (its qlxtools.xml and\n"
    "              QLX_patch.log); the current folder when not given\n"
    "exit status: 0 no check failed, 1 a check failed, 2 no check was made\n";

struct Options {
  bool after = false;
  bool json = false;
  bool help = false;
  std::string directory;
};

bool Parse(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--after") {
      options->after = true;
    } else if (argument == "--json") {
      options->json = true;
    } else if (argument == "--help") {
      options->help = true;
    } else if (argument == "--dir" && i + 1 < argc && options->directory.empty()) {
      options->directory = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

int Check(const Options& options) {
  qlx::check::ReadOnlyFiles files(*qlx::platform::Current().files);
  const qlx::platform::ScopedFacilities read_only(
      {nullptr, nullptr, nullptr, nullptr, nullptr, &files});
  std::vector<qlx::check::Row> rows;
  try {
    rows = options.after ? qlx::check::CheckAfter(options.directory)
                         : qlx::check::CheckBefore(options.directory);
  } catch (const qlx::platform::RunInterrupted&) {
  }
  if (qlx::platform::Interruptions() > 0) {
    qlx::RemovePasswordFiles(kRemoveBound);  // should the tool have left them
    std::fputs("qlxcheck: interrupted; nothing was checked to the end\n", stderr);
    return kCannotCheck;
  }
  const std::string report = options.json
                                 ? qlx::check::Json(options.after ? "after" : "before", rows)
                                 : qlx::check::Table(rows);
  std::fputs(report.c_str(), stdout);
  return qlx::check::ExitStatus(rows);
}

}  // namespace

int main(int argc, char** argv) {
  qlx::platform::HandleInterruptions([](const char* what, bool session_ending) {
    qlx::platform::MarkInterrupted(what, session_ending);
  });
  Options options;
  if (!Parse(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return kCannotCheck;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  try {
    if (options.directory.empty()) options.directory = qlx::platform::CurrentDirectory();
    return Check(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "qlxcheck: %s\n", error.what());
  } catch (...) {
    std::fputs("qlxcheck: the check could not be made\n", stderr);
  }
  return kCannotCheck;
}
