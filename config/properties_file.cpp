#include "config/properties_file.h"

#include <memory>

#include "platform/files.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace qlx {

bool ScanPropertiesFile(const std::string& path, const PropertyVisitor& visitor,
                        uint32_t* open_error) {
  const platform::Result<std::unique_ptr<platform::File>> file =
      platform::Current().files->Open(path, "r");
  if (!file) {
    if (open_error) *open_error = file.error();
    return false;
  }
  std::string line;
  while ((*file)->ReadLine(platform::kLineBufferSize, &line)) {
    PropertyLine split = SplitPropertyLine(line);
    if (!split.has_separator) continue;
    TrimTrailingWhiteSpace(split.value);
    if (!visitor(split.key, split.value)) break;
  }
  return true;
}

PropertyLine SplitPropertyLine(const std::string& line) {
  const std::string::size_type separator = line.find('=');
  if (separator == std::string::npos) return PropertyLine{line, line, false};
  return PropertyLine{line.substr(0, separator), line.substr(separator + 1), true};
}

}  // namespace qlx
