#include "config/database_kind.h"

#include <cstdio>

#include "config/host_paths.h"
#include "config/properties_file.h"

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
    return "";
  }
  return type;
}

}  // namespace qlx
