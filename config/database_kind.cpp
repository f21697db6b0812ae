#include "config/database_kind.h"

#include <cstdio>

#include "config/host_paths.h"
#include "config/properties_file.h"
#include "platform/files.h"

namespace qlx {

std::string GetDatabaseType() {
  const std::string path = HostDirectory() + "\\config\\globalsettings.props";
  std::string type;
  const bool opened =
      ScanPropertiesFile(path, [&type](const std::string& key, const std::string& value) {
        if (key != "dbType") return true;
        type = value;
        return false;  // the first occurrence decides
      });
  if (!opened) {
    std::printf("Error in opening the file: %s\n", path.c_str());
    // Where the system looked, when that is not the path just printed.
    const std::string system_path = platform::SystemPath(path);
    if (system_path != path) {
      std::fprintf(stderr, "qlxpatch: cannot open %s, so the database is taken to be SQL Server\n",
                   system_path.c_str());
    }
    return "";
  }
  return type;
}

}  // namespace qlx
