// qlxresolve: a copy of a server as the Linux program sees it, for
// scripts/rehearse, which thereby reads the exports and finds the files
// through the program's own code instead of a second reading of its own. The
// stand-ins' variables apply (QLX_REGISTRY_FILE, QLX_REGISTRY_VIEW,
// QLX_DRIVE_<LETTER>).
//
//   qlxresolve export FILE...            per file: "export", the file, and
//                                        "ok", "not-an-export", or
//                                        "foreign-key" and the key line
//   qlxresolve value KEY NAME [KEY NAME]...  reads each value as the program
//                                        does; each read is a line of the
//                                        trace (QLX_TRACE_FILE)
//   qlxresolve path PATH...              per path: "path", the path, its code
//                                        (0; 3: it does not resolve; 206: too
//                                        long for the program's calls) and
//                                        the Linux path or "-"; then
//                                        "case-duplicate" and "not-utf8" lines,
//                                        each a directory and its names
//
// The output's lines are TAB-separated, their fields written as the trace
// writes them. Texts are UTF-8. Exit status 0, or 2 for a usage error.
#include <fcntl.h>

#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/drives.h"
#include "platform/posix/posix_io.h"
#include "platform/posix/reg_file.h"
#include "platform/posix/text_encoding.h"
#include "platform/posix/trace.h"
#include "platform/registry.h"

namespace {

using qlx::platform::posix::TraceField;

void PrintLine(const std::vector<std::string>& fields) {
  std::string line;
  for (const std::string& field : fields) line += (line.empty() ? "" : "\t") + TraceField(field);
  std::cout << line << '\n';
}

void PrintExport(const std::string& file) {
  int error = 0;
  const qlx::platform::posix::UniqueFd fd =
      qlx::platform::posix::OpenRegularFile(file, O_RDONLY, &error);
  const qlx::platform::posix::ExportRoots roots =
      fd ? qlx::platform::posix::ReadExportRoots(fd.get()) : qlx::platform::posix::ExportRoots{};
  if (!roots.is_export) return PrintLine({"export", file, "not-an-export"});
  if (roots.foreign_key) return PrintLine({"export", file, "foreign-key", *roots.foreign_key});
  PrintLine({"export", file, "ok"});
}

void ReadValue(const std::string& key_path, const std::string& name) {
  using qlx::platform::posix::AnsiFromUtf8;
  auto key = qlx::platform::SystemRegistry().OpenLocalMachineKey(AnsiFromUtf8(key_path),
                                                                 qlx::platform::KeyAccess::kQuery);
  if (key) (*key)->QueryValue(AnsiFromUtf8(name));
}

void PrintPath(const std::string& path) {
  const qlx::platform::posix::DriveResolution resolution =
      qlx::platform::posix::ExamineDrivePath(path);
  const uint32_t code =
      resolution.too_long ? qlx::platform::kErrorFilenameExcedRange : resolution.path.error();
  PrintLine({"path", path, std::to_string(code), resolution.path.value_or("-")});
  for (const auto& [kind, found] : {std::pair{"case-duplicate", &resolution.case_duplicates},
                                    std::pair{"not-utf8", &resolution.not_utf8}}) {
    for (const qlx::platform::posix::NamesInDirectory& names : *found) {
      std::vector<std::string> fields = {kind, names.directory};
      fields.insert(fields.end(), names.names.begin(), names.names.end());
      PrintLine(fields);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const std::string mode = arguments.empty() ? "" : arguments.front();
  if (mode == "export") {
    for (std::size_t i = 1; i < arguments.size(); ++i) PrintExport(arguments[i]);
  } else if (mode == "value" && arguments.size() % 2 == 1) {
    for (std::size_t i = 1; i + 1 < arguments.size(); i += 2) {
      ReadValue(arguments[i], arguments[i + 1]);
    }
  } else if (mode == "path") {
    for (std::size_t i = 1; i < arguments.size(); ++i) PrintPath(arguments[i]);
  } else {
    std::cerr << "usage: qlxresolve export FILE... | value KEY NAME... | path PATH...\n";
    return 2;
  }
  return std::cout.flush() ? 0 : 2;
}
