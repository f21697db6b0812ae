#include <memory>

#include "config/host_paths.h"
#include "config/properties_file.h"
#include "database/ktr_database_interface.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace qlx {
namespace {

constexpr int kDefaultQueryTimeout = 60;
constexpr char kDefaultSetting[] = "Query_Timeout_Value=60";
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kPathNotFound = 3;

// Writes the default setting into a time-out file that does not exist yet. A
// file that exists but cannot be read is the administrator's and stays as it is.
void CreateDefaultSetting(const std::string& path, uint32_t open_error) {
  if (open_error != kFileNotFound && open_error != kPathNotFound) return;
  std::unique_ptr<platform::File> file = platform::Current().files->Open(path, "w");
  if (file) file->Write(kDefaultSetting);
}

}  // namespace

int KTRDatabaseInterface::GetQueryTimeout() {
  const std::string path = AddOnDirectory() + "\\Query_Timeout.txt";
  bool opened = false;
  uint32_t open_error = 0;
  const std::string setting = " " + ReadWholeText(path, &opened, &open_error);
  if (!opened) CreateDefaultSetting(path, open_error);

  // Only the text after the file's first "=" counts; the name is not looked at.
  const PropertyLine split = SplitPropertyLine(setting);
  std::string value = split.has_separator ? split.value : setting;
  RemoveWhiteSpace(value);
  const int seconds = ParseDigits(value);
  return seconds != 0 ? seconds : kDefaultQueryTimeout;
}

}  // namespace qlx
