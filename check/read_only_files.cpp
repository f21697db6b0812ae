#include "check/read_only_files.h"

#include "database/password_files.h"
#include "platform/windows_codes.h"

namespace qlx::check {
namespace {

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
