#include "config/host_paths.h"
#include "config/properties_file.h"
#include "database/connection_string.h"
#include "database/ktr_database_interface.h"
#include "database/ktr_exception.h"

namespace qlx {
namespace {

constexpr char kCatalogue[] = "QLX_v3_0";

// The instance name inside the settings file's instance value. The file
// separates server and instance with a doubled backslash (the properties
// escape); a single backslash is taken as well, and a value without any
// backslash is the instance name itself.
std::string InstancePart(const std::string& instance_value) {
  const std::string::size_type backslash = instance_value.find('\\');
  if (backslash == std::string::npos) return instance_value;
  std::string::size_type start = backslash + 1;
  if (start < instance_value.size() && instance_value[start] == '\\') ++start;
  return instance_value.substr(start);
}

}  // namespace

std::string KTRDatabaseInterface::GetSQLServerDatabaseParameters() {
  database_name_ = kCatalogue;
  std::string instance = " ";  // a file without the key never selects an instance
  const std::string path = HostDirectory() + "\\config\\database.props";

  uint32_t open_error = 0;
  const bool opened = ScanPropertiesFile(
      path,
      [&](const std::string& key, const std::string& value) {
        if (key == "ov.Database.hostName") {
          host_name_ = value;
        } else if (key == "ov.Database.portNumber") {
          port_number_ = value;
        } else if (key == "ov.Database.instance") {
          instance = value;
        }
        return true;  // the last occurrence decides
      },
      &open_error);
  if (!opened) throw CKTRException(CKTRException::kSettingsFileNotOpened, open_error);

  std::string data_source;
  // An instance value is "<host>\\<instance>" in the settings file, so one that
  // is longer than the host name and the two backslashes names an instance;
  // the host name alone, or with the backslashes and nothing after, does not.
  if (instance.size() > host_name_.size() + 2) {
    host_name_ = host_name_ + "\\" + InstancePart(instance);
    data_source = host_name_;
  } else {
    data_source = host_name_ + "," + port_number_;
  }
  return "Provider=sqloledb;Data Source=" + QuoteConnectionValue(data_source) +
         ";Initial Catalog=" + database_name_ + ";Integrated Security=SSPI";
}

}  // namespace qlx
