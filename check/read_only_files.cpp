#include "check/read_only_files.h"

#include <algorithm>
#include <cctype>

#include "platform/windows_codes.h"

namespace qlx::check {
namespace {

bool IsPasswordFile(std::string path) {
  std::transform(path.begin(), path.end(), path.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const std::string name : {"\\pass1.txt", "\\pass2.txt"}) {
    if (path.size() >= name.size() &&
        path.compare(path.size() - name.size(), name.size(), name) == 0) {
      return true;
    }
  }
  return false;
}

const platform::Failure kRefused{platform::kErrorAccessDenied};

}  // namespace

platform::Result<std::unique_ptr<platform::File>> ReadOnlyFiles::Open(const std::string& path,
                                                                      const char* mode) {
  if (std::string(mode) != "r" && !IsPasswordFile(path)) return kRefused;
  return files_.Open(path, mode);
}

platform::Result<> ReadOnlyFiles::Remove(const std::string& path) {
  if (!IsPasswordFile(path)) return kRefused;
  return files_.Remove(path);
}

platform::Result<> ReadOnlyFiles::CopyReplacing(const std::string&, const std::string&) {
  return kRefused;
}

platform::Result<> ReadOnlyFiles::CreateNew(const std::string& path) {
  if (!IsPasswordFile(path)) return kRefused;
  return files_.CreateNew(path);
}

platform::Result<> ReadOnlyFiles::RemoveAtReboot(const std::string& path) {
  if (!IsPasswordFile(path)) return kRefused;
  return files_.RemoveAtReboot(path);
}

platform::Result<> ReadOnlyFiles::Empty(const std::string& path) {
  if (!IsPasswordFile(path)) return kRefused;
  return files_.Empty(path);
}

}  // namespace qlx::check
