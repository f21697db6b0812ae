#include "config/host_paths.h"
#include "config/properties_file.h"
#include "database/connection_string.h"
#include "database/ktr_database_interface.h"
#include "database/process_state.h"
#include "driver/patch_log.h"

namespace qlx {

std::string KTRDatabaseInterface::GetOracleDatabaseParameters() {
  LogModuleMessage("KTRDatabaseInterface", "GetOracleDatabaseParameters started");
  const std::string path = AddOnDirectory() + "\\qlxdatabase.props";
  const bool opened =
      ScanPropertiesFile(path, [this](const std::string& key, const std::string& value) {
        if (key == "qlx.Database.username") {
          MutableOracleUserName() = value;
        } else if (key == "qlx.Database.databaseName") {
          database_name_ = value;
        }
        return true;  // the last occurrence decides
      });
  if (!opened) {
    LogModuleMessage("QLXInstallDir", "file not opened");
    return "";
  }
  const std::string database_name = database_name_;
  const std::string password = GetPassword();
  const std::string user_name = OracleUserName();
  const std::string connection_string =
      "Provider=OraOLEDB.Oracle;User ID=" + QuoteConnectionValue(user_name) +
      ";Password=" + QuoteConnectionValue(password) +
      ";Data Source=" + QuoteConnectionValue(database_name);
  LogModuleMessage("KTRDatabaseInterface", "GetOracleDatabaseParameters finished");
  return connection_string;
}

}  // namespace qlx
