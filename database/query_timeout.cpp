#include <memory>
#include <string>

#include "config/host_paths.h"
#include "config/properties_file.h"
#include "database/ktr_database_interface.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/windows_codes.h"

namespace qlx {
namespace {

constexpr int kDefaultQueryTimeout = 60;
constexpr char kDefaultSetting[] = "Query_Timeout_Value=60";

// Writes the default setting into a time-out file that does not exist yet. A
// file that exists but cannot be read is the administrator's and stays as it is.
void CreateDefaultSetting(const std::string& path, uint32_t open_error) {
  if (open_error != platform::kErrorFileNotFound && open_error != platform::kErrorPathNotFound) {
    return;
  }
  const platform::Result<std::unique_ptr<platform::File>> file =
      platform::Current().files->Open(path, "w");
  if (file) (*file)->Write(kDefaultSetting);
}

}  // namespace

int KTRDatabaseInterface::GetQueryTimeout() {
  const std::string path = AddOnDirectory() + "\\Query_Timeout.txt";
  const platform::Result<std::string> text = platform::ReadWholeText(path);
  if (!text) CreateDefaultSetting(path, text.error());

  // The setting text starts with a blank, as the time-out file has always been
  // read: a file without "=" counts whole, and RemoveWhiteSpace takes the
  // blank away again, so it changes no result.
  const std::string setting = " " + (text ? *text : std::string());

  // Only the text after the file's first "=" counts; the name is not looked at.
  const PropertyLine split = SplitPropertyLine(setting);
  std::string value = split.has_separator ? split.value : setting;
  RemoveWhiteSpace(value);
  const int seconds = ParseDigits(value);
  return seconds != 0 ? seconds : kDefaultQueryTimeout;
}

}  // namespace qlx
